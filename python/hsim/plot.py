"""ECG-paper plots with matplotlib, in the style of ``hsimctl render``: 25 mm/s
and 10 mm/mV on a 1 mm / 5 mm red grid, the 1 mV calibration pulse (200 ms)
at the start of every row, a label per trace, the title and scale on top,
pacing pulses marked in blue and a time axis under every row, labelled every
second. Figures are sized in true millimetres.
"""
from __future__ import annotations

from typing import Optional, Sequence, Union

import numpy as np

MINOR_GRID = (250 / 255, 200 / 255, 205 / 255)
MAJOR_GRID = (235 / 255, 110 / 255, 120 / 255)
TRACE = (0.0, 0.0, 0.0)
PACING_MARK = (20 / 255, 90 / 255, 230 / 255)
CALIBRATION_S = 0.2
MM_PER_INCH = 25.4
TIME_AXIS_MM = 5.0   # under each row: a tick and a label at every whole second


def find_pacing_pulses(mv: np.ndarray, rate: float, min_step_mv: float = 1.0) -> np.ndarray:
    """Times (s) of pacing pulses: jumps of at least min_step_mv within 0.1 ms,
    one per pulse (edges closer than 2.5 ms merge)."""
    mv = np.asarray(mv, dtype=float)
    lag = max(1, int(round(rate * 1e-4)))
    if len(mv) <= lag:
        return np.empty(0)
    jumps = np.flatnonzero(np.abs(mv[lag:] - mv[:-lag]) >= min_step_mv) + lag
    times, last = [], -np.inf
    for k in jumps:
        t = k / rate
        if t - last > 0.0025:
            times.append(t)
        last = t
    return np.array(times)


def ecg_paper(traces: Union[np.ndarray, Sequence[np.ndarray]], rate: float = 40000.0, *,
              labels: Optional[Sequence[str]] = None, title: str = "",
              mm_per_second: float = 25.0, mm_per_mv: float = 10.0,
              seconds_per_row: float = 10.0, calibration: bool = True,
              pacing: Union[bool, Sequence[Sequence[float]]] = False,
              pacing_step_mv: float = 1.0, path: Optional[str] = None, dpi: float = 150.0):
    """Draws traces (mV at ``rate`` samples/s) on ECG paper; returns the
    matplotlib Figure and saves it to ``path`` when given. ``pacing`` True finds
    the pulses in each trace; a list gives their times per trace."""
    import matplotlib
    if path is not None:
        matplotlib.use("Agg", force=False)
    import matplotlib.pyplot as plt

    if isinstance(traces, np.ndarray) and traces.ndim == 1:
        traces = [traces]
    traces = [np.asarray(t, dtype=float) for t in traces]
    if not traces or any(len(t) == 0 for t in traces):
        raise ValueError("every trace needs samples")
    labels = list(labels) if labels is not None else [f"{i + 1}" for i in range(len(traces))]
    if pacing is True:
        marks = [find_pacing_pulses(t, rate, pacing_step_mv) for t in traces]
    elif pacing:
        marks = [np.asarray(m, dtype=float) for m in pacing]
    else:
        marks = [np.empty(0) for _ in traces]

    seconds_per_row = min(seconds_per_row, max(len(t) for t in traces) / rate)
    lead_in = np.ceil((CALIBRATION_S * mm_per_second + 5) / 5) * 5 if calibration else 0.0
    row_mm = lead_in + np.ceil(seconds_per_row * mm_per_second / 5) * 5
    strips = []  # (trace index, t0, t1, top mm, baseline mm, bottom mm of the grid)
    y = 0.0
    for i, t in enumerate(traces):
        duration = len(t) / rate
        for r in range(int(np.ceil(duration / seconds_per_row - 1e-9))):
            t0, t1 = r * seconds_per_row, min(duration, (r + 1) * seconds_per_row)
            part = t[int(t0 * rate):int(np.ceil(t1 * rate))]
            finite = part[np.isfinite(part)]
            hi = max(finite.max() if finite.size else 0.0, 1.0 if calibration else 0.0)
            lo = min(finite.min() if finite.size else 0.0, 0.0)
            above = np.ceil((3 + hi * mm_per_mv) / 5) * 5
            below = np.ceil((3 - lo * mm_per_mv) / 5) * 5
            strips.append((i, t0, t1, y, y + above, y + above + below))
            y += above + below + TIME_AXIS_MM
    height_mm = y
    header_mm = 14.0 if title else 8.0
    margin = 5.0
    width_mm = row_mm + 2 * margin + 12.0
    fig = plt.figure(figsize=((width_mm) / MM_PER_INCH,
                              (height_mm + header_mm + margin) / MM_PER_INCH), dpi=dpi)
    left = 12.0 + margin
    ax = fig.add_axes([left / width_mm, margin / (height_mm + header_mm + margin),
                       row_mm / width_mm, height_mm / (height_mm + header_mm + margin)])
    ax.set_xlim(0, row_mm)
    ax.set_ylim(height_mm, 0)
    ax.set_axis_off()
    minor = np.arange(0, row_mm + 0.5, 1.0)
    line_pt = 0.3 / MM_PER_INCH * 72 * 1.5
    for i, t0, t1, top, baseline, bottom in strips:
        rows = np.arange(top, bottom + 0.5, 1.0)
        ax.vlines(minor[minor % 5 != 0], top, bottom, colors=[MINOR_GRID], linewidth=0.3)
        ax.hlines(rows[(rows - top) % 5 != 0], 0, row_mm, colors=[MINOR_GRID], linewidth=0.3)
        ax.vlines(minor[minor % 5 == 0], top, bottom, colors=[MAJOR_GRID], linewidth=0.6)
        ax.hlines(rows[(rows - top) % 5 == 0], 0, row_mm, colors=[MAJOR_GRID], linewidth=0.6)
        if calibration:
            x0, w = 1.0, CALIBRATION_S * mm_per_second
            ax.plot([0, x0, x0, x0 + w, x0 + w, lead_in - 1],
                    [baseline, baseline, baseline - mm_per_mv, baseline - mm_per_mv, baseline,
                     baseline], color=TRACE, linewidth=line_pt)
        k0, k1 = int(t0 * rate), int(np.ceil(t1 * rate))
        x = lead_in + (np.arange(k0, k1) / rate - t0) * mm_per_second
        ax.plot(x, baseline - traces[i][k0:k1] * mm_per_mv, color=TRACE, linewidth=line_pt)
        for m in marks[i][(marks[i] >= t0) & (marks[i] < t1)]:
            xm = lead_in + (m - t0) * mm_per_second
            ax.plot([xm], [top + 1.5], marker="v", color=PACING_MARK, markersize=3)
        ax.text(-2.0, baseline, labels[i], ha="right", va="center", fontsize=8,
                fontweight="bold", clip_on=False)
        for second in np.arange(np.ceil(t0 - 1e-9), t1 + 1e-9, 1.0):
            xs = lead_in + (second - t0) * mm_per_second
            ax.vlines([xs], bottom, bottom + 1.5, colors=[TRACE], linewidth=0.4)
            ax.text(xs, bottom + 1.8, f"{second + 0.0:g} s", ha="center", va="top", fontsize=6)
    fig.text(left / width_mm, 1 - (margin + 1) / (height_mm + header_mm + margin),
             (title + "\n" if title else "") + f"{mm_per_second:g} mm/s  {mm_per_mv:g} mm/mV",
             ha="left", va="top", fontsize=8)
    if path is not None:
        fig.savefig(path, dpi=dpi)
    return fig


def plot_render(ac: np.ndarray, dc: Optional[np.ndarray] = None, **options):
    """ecg_paper of a render or recording: the AC channel, and the DC channel
    when it is not flat, with pacing marks found on the DC channel."""
    traces, labels = [ac], ["AC"]
    if dc is not None and np.ptp(dc) > 0:
        traces.append(dc)
        labels.append("DC")
    options.setdefault("labels", labels)
    if "pacing" not in options and len(traces) == 2:
        options["pacing"] = [np.empty(0), find_pacing_pulses(dc, options.get("rate", 40000.0))]
    return ecg_paper(traces, **options)
