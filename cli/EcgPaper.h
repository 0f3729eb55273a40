// ECG-paper plots of simulator signals: a white page with the 1 mm / 5 mm
// red grid, one strip per trace in rows of a fixed length (no longer than
// the longest trace), the 1 mV calibration pulse, the trace, its pacing
// pulses marked, each strip named beside it, a time axis labelled in
// seconds, and the title and scale at the top. Written as PNG, SVG or PDF
// with Cairo; a PDF is printed at true scale on A4 pages.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

typedef struct _cairo cairo_t;

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
// PNG and SVG are one page as large as the rows. A PDF has A4 pages
// (210 x 297 mm): portrait when a row fits across, else landscape, the rows
// stacked and continued on further pages; rows too long for a landscape page
// are shortened so the scale stays true. Returns an empty string when
// written, else a message saying what failed (unknown extension, no samples,
// cannot write).
std::string DrawEcgPaper(const std::string& path, const std::vector<Trace>& traces, const PaperOptions& options);

// ECG paper drawn into a Cairo context of the caller's (a report's page),
// whose user unit is the millimetre: the rows of DrawEcgPaper without its
// title, placed where the caller says.
class EcgPaperBlock {
public:
    EcgPaperBlock(std::vector<Trace> traces, const PaperOptions& options);
    // Empty when the traces can be drawn, else why not.
    const std::string& Error() const { return m_Error; }
    double Width() const;                 // mm: the strips' names and the grid
    size_t Rows() const;
    double RowHeight(size_t row) const;   // mm, its time axis included
    // Draws rows [first, first + count), the first's top-left corner at (left, top).
    void DrawRows(cairo_t* cr, double left, double top, size_t first, size_t count) const;

private:
    struct Placed;
    std::vector<Trace> m_Traces;
    PaperOptions m_Options;
    std::string m_Error;
    std::shared_ptr<const Placed> m_Layout;
};

// The longest row (s, whole seconds when 1 s or more) whose block fits widthMm.
double RowSecondsToFit(double widthMm, const PaperOptions& options);

// The text with every byte that is not part of valid UTF-8 replaced by U+FFFD
// (Cairo draws UTF-8 only; a file name need not be).
std::string ValidUtf8(std::string_view text);

// Times (s) of pacing pulses in a signal: leading edges where the signal
// jumps by at least minStepMv within 0.1 ms, merged so one pulse (rising and
// falling edge, up to 2.5 ms wide) counts once. A pulse's time is that of its
// first sample past the jump.
std::vector<double> FindPacingPulses(const std::vector<double>& mv, double rate, double minStepMv);

}  // namespace hsimctl
