"""The project's device emulator (hsim-emu) as a child process.

The emulator publishes ``<dir>/ttyACM<port>``, a pseudo terminal that speaks
the device side of the wire protocol, and takes commands on its standard
input (``unplug``, ``replug``, ``played FILE``, ...; see ``hsim-emu --help``).

Where the library looks for ports is the same for every simulator of the
process, so the emulators of emulated Simulators open at the same time share
one directory (:func:`start_shared`), each on a port of its own.
"""
from __future__ import annotations

import shutil
import subprocess
import tempfile
import threading
from pathlib import Path
from typing import Optional

import numpy as np

from ._closing import Closing
from ._capi import find_emulator

PLAYED_DTYPE = np.dtype([("dc", "<u2"), ("ac", "<i2")])


class Emulator(Closing):
    """A running ``hsim-emu`` in a private directory, removed on :meth:`close`,
    or in ``directory`` when given, which is then left in place.

    ``count`` devices are published, on the ports ``port`` .. ``port + count -
    1`` with serial numbers of their own (``nodes``); the commands and
    :meth:`played` go to the first, a command prefixed ``"I:"`` to device I."""

    def __init__(self, port: int = 0, fast: bool = False, program: Optional[str] = None,
                 extra_args: tuple[str, ...] = (), *, count: int = 1,
                 directory: Optional[Path] = None):
        self.port = port
        self._lock = threading.Lock()  # one command and its answer at a time
        program = program or find_emulator()
        self._own_directory = directory is None
        self.directory = Path(tempfile.mkdtemp(prefix="hsim-emu-") if directory is None
                              else directory)
        args = [program, "--dir", str(self.directory), "--port", str(port)]
        if count != 1:
            args += ["--count", str(count)]
        if fast:
            args.append("--fast")
        args += list(extra_args)
        try:
            self._process = subprocess.Popen(args, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                             text=True, bufsize=1)
        except OSError:
            if self._own_directory:
                shutil.rmtree(self.directory, ignore_errors=True)
            raise
        self.nodes = [self._process.stdout.readline().strip() for _ in range(max(1, count))]
        if not all(self.nodes):
            self.close()
            raise RuntimeError(f"hsim-emu did not start ({' '.join(args)})")
        self.node = self.nodes[0]

    @property
    def device_path(self) -> str:
        """The printf-style device path the library is pointed at."""
        return str(self.directory / "ttyACM%d")

    @property
    def lock_dir(self) -> str:
        return str(self.directory / "lock")

    def command(self, line: str) -> str:
        """Sends one command line and returns the emulator's one-line answer."""
        if self._process.poll() is not None:
            raise RuntimeError("hsim-emu has ended")
        with self._lock:
            self._process.stdin.write(line + "\n")
            self._process.stdin.flush()
            answer = self._process.stdout.readline().strip()
        if answer.startswith("error"):
            raise RuntimeError(f"hsim-emu: {answer}")
        return answer

    def stream_stats(self) -> dict[str, int]:
        """The device's stream counters (``status``): transfers, samples,
        underruns, sequence errors, ... and ``late`` (answers later than 5 ms)."""
        with self._lock:
            self._process.stdin.write("status\n")
            self._process.stdin.flush()
            lines = []
            while True:  # the answer ends with its "block output ..." line
                line = self._process.stdout.readline()
                lines.append(line)
                if not line or line.startswith("block output"):
                    break
        stats: dict[str, int] = {}
        for line in lines:
            if line.startswith("stream:"):
                for field in line[len("stream:"):].split(","):
                    words = field.split()
                    if len(words) >= 2 and words[-1].isdigit():
                        stats["_".join(words[:-1])] = int(words[-1])
            elif line.startswith("request latency:"):
                late = [f for f in line.split(",") if f.strip().endswith("over 5 ms")]
                if late:
                    stats["late"] = int(late[0].split()[0])
        return stats

    def unplug(self) -> None:
        """Removes the node, as pulling the cable does (the device loses power)."""
        self.command("unplug")

    def replug(self) -> None:
        """Publishes a new node under the same name."""
        self.command("replug")

    def clear_played(self) -> None:
        self.command("played clear")

    def played(self) -> np.ndarray:
        """The samples played so far (at most the last 10 s), oldest first, as a
        structured array of words: fields ``dc`` (uint16) and ``ac`` (int16)."""
        path = self.directory / f"played{self.port}.bin"  # the directory may be shared
        self.command(f"played {path}")
        data = np.fromfile(path, dtype=PLAYED_DTYPE)
        path.unlink()
        return data

    def close(self) -> None:
        """Ends the emulator (quit, then terminate, then kill) and removes its directory."""
        process = getattr(self, "_process", None)
        if process is not None and process.poll() is None:
            try:
                process.stdin.write("quit\n")
                process.stdin.flush()
            except (BrokenPipeError, ValueError):
                pass
            try:
                process.wait(timeout=5)
            except subprocess.TimeoutExpired:
                process.terminate()
                try:
                    process.wait(timeout=5)
                except subprocess.TimeoutExpired:
                    process.kill()
                    process.wait()
        if process is not None:
            for stream in (process.stdin, process.stdout):
                try:
                    stream.close()
                except (BrokenPipeError, OSError):
                    pass
        if self._own_directory and self.directory.exists():
            shutil.rmtree(self.directory, ignore_errors=True)

    def __repr__(self) -> str:
        return f"Emulator(node={getattr(self, 'node', None)!r}, pid={self._process.pid})"


class _SharedEmulator(Emulator):
    """An emulator in the shared directory; closing it gives its port back."""

    def close(self) -> None:
        try:
            super().close()
        finally:
            _release_shared(self)


_shared_lock = threading.RLock()  # a failed start closes, which releases
_shared_directory: Optional[Path] = None
_shared_ports: dict[int, _SharedEmulator] = {}


def start_shared(port: Optional[int] = None, fast: bool = False,
                 extra_args: tuple[str, ...] = ()) -> Emulator:
    """An emulator in the directory the emulators of this process share
    (made by the first, removed when the last closes), on ``port`` or, for
    None, the lowest port none of them has. A port another has raises
    ValueError."""
    global _shared_directory
    with _shared_lock:
        if port is None:
            port = next((p for p in range(128) if p not in _shared_ports), None)
            if port is None:
                raise ValueError("all 128 ports have an emulator already")
        elif port in _shared_ports:
            raise ValueError(f"port {port} has an emulator already")
        if _shared_directory is None:
            _shared_directory = Path(tempfile.mkdtemp(prefix="hsim-emu-"))
        try:
            emulator = _SharedEmulator(port, fast, extra_args=extra_args,
                                       directory=_shared_directory)
        except BaseException:
            if not _shared_ports:
                shutil.rmtree(_shared_directory, ignore_errors=True)
                _shared_directory = None
            raise
        _shared_ports[port] = emulator
        return emulator


def _release_shared(emulator: _SharedEmulator) -> None:
    global _shared_directory
    with _shared_lock:
        if _shared_ports.get(emulator.port) is not emulator:
            return  # released already (or never started)
        del _shared_ports[emulator.port]
        if not _shared_ports and _shared_directory is not None:
            shutil.rmtree(_shared_directory, ignore_errors=True)
            _shared_directory = None
