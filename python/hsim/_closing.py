"""What every object holding a library or process resource shares."""

from __future__ import annotations

from typing import TypeVar

_Self = TypeVar("_Self", bound="Closing")


class Closing:
    """Closed on leaving a ``with`` block and, as a last resort, when
    collected. ``close()`` must be safe to call more than once."""

    def close(self) -> None:
        raise NotImplementedError

    def __enter__(self: _Self) -> _Self:
        return self

    def __exit__(self, *exc) -> None:
        self.close()

    def __del__(self):
        try:
            self.close()
        except Exception:
            pass
