// ECG-paper plots of simulator signals: a white page with the 1 mm / 5 mm
// red grid, one strip per trace in rows of a fixed length, the 1 mV
// calibration pulse, the trace, its pacing pulses marked, and the title and
// scale at the top. Written as PNG, SVG or PDF with Cairo.
#pragma once

#include <string>
#include <vector>

namespace hsimctl {

// One lead or channel: samples in mV at `rate` samples per second, the first
// at time 0.
struct Trace {
    std::string label;
    double rate = 0;
    std::vector<double> mv;
    std::vector<double> pacingSeconds;  // pulse times to mark
};

struct PaperOptions {
    double mmPerSecond = 25.0;
    double mmPerMv = 10.0;
    double dpi = 150.0;            // raster resolution of PNG output; SVG/PDF are drawn in points (72 per inch) at the same mm
    double secondsPerRow = 10.0;   // long traces wrap into rows of this length
    std::string title;             // e.g. the settings that produced the signal
    bool calibration = true;       // the 1 mV calibration pulse at the start of every row (200 ms wide)
};

// The paper's colours (8-bit RGB). In PNG output the grid lines lie on whole
// pixels, so their pixels have exactly these colours; the trace is drawn at
// least 0.3 mm wide, its core pixels are exactly kTraceRgb.
struct Rgb {
    unsigned char r, g, b;
};
inline constexpr Rgb kMinorGridRgb{250, 200, 205};
inline constexpr Rgb kMajorGridRgb{235, 110, 120};
inline constexpr Rgb kTraceRgb{0, 0, 0};
inline constexpr Rgb kPacingMarkRgb{20, 90, 230};

// The extension of a file name with its dot, in lower case ("" without one).
std::string FileExtension(const std::string& path);

// Writes PNG, SVG or PDF chosen by the extension of path (case-insensitive).
// Returns an empty string when written, else a message saying what failed
// (unknown extension, no samples, cannot write).
std::string DrawEcgPaper(const std::string& path, const std::vector<Trace>& traces, const PaperOptions& options);

// Times (s) of pacing pulses in a signal: leading edges where the signal
// jumps by at least minStepMv within 0.1 ms, merged so one pulse (rising and
// falling edge, up to 2.5 ms wide) counts once. A pulse's time is that of its
// first sample past the jump.
std::vector<double> FindPacingPulses(const std::vector<double>& mv, double rate, double minStepMv);

}  // namespace hsimctl
