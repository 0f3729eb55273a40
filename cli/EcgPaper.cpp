// ECG-paper plots with Cairo. Everything is laid out in millimetres; the
// Cairo context is scaled to pixels (PNG, at the chosen DPI) or points
// (SVG/PDF). In a PNG the grid lines are put on whole pixels so the grid
// stays crisp; each line is placed from its exact mm position, so the
// rounding never adds up along the page.
#include "EcgPaper.h"

#include <cairo-pdf.h>
#include <cairo-svg.h>
#include <cairo.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <memory>

namespace hsimctl {
namespace {

constexpr double kMarginMm = 8.0;
constexpr double kTitleLineMm = 6.0;     // title line, when there is a title
constexpr double kLegendLineMm = 5.0;    // the scale legend
constexpr double kHeaderGapMm = 2.0;
constexpr double kTimeBandMm = 7.0;      // below every row: second ticks and the row's start time
constexpr double kMarkSpaceMm = 3.0;     // above the trace's highest point: pacing marks
constexpr double kBelowTraceMm = 2.0;
constexpr double kMinStripMm = 20.0;
constexpr double kCalibrationSeconds = 0.2;
constexpr double kTitleFontMm = 4.0;
constexpr double kTextFontMm = 3.0;
constexpr double kLabelFontMm = 3.5;
constexpr double kVectorColumnsPerInch = 600.0;  // decimation of SVG/PDF traces
constexpr double kMaxRasterSide = 32767.0;       // Cairo's image surface limit
constexpr double kMaxRasterPixels = 256e6;

enum class Format { Png, Svg, Pdf };

struct SurfaceDeleter {
    void operator()(cairo_surface_t* s) const { cairo_surface_destroy(s); }
};
struct ContextDeleter {
    void operator()(cairo_t* c) const { cairo_destroy(c); }
};
using SurfacePtr = std::unique_ptr<cairo_surface_t, SurfaceDeleter>;
using ContextPtr = std::unique_ptr<cairo_t, ContextDeleter>;

void SetColour(cairo_t* cr, Rgb c)
{
    cairo_set_source_rgb(cr, c.r / 255.0, c.g / 255.0, c.b / 255.0);
}

constexpr Rgb kTextRgb{50, 50, 80};

std::string Number(double v)
{
    char text[32];
    std::snprintf(text, sizeof text, "%g", v);
    return text;
}

bool Positive(double v)
{
    return std::isfinite(v) && v > 0;
}

// The samples of a trace that fall in [t0, t1] and their range.
struct Span {
    size_t first = 0, last = 0;  // inclusive
    bool empty = true;
    double lo = 0, hi = 0;       // mV, 0 when there is no finite sample
};

Span SpanOf(const Trace& trace, double t0, double t1)
{
    Span s;
    const size_t n = trace.mv.size();
    const double first = std::ceil(t0 * trace.rate - 1e-9);
    const double last = std::min(std::floor(t1 * trace.rate + 1e-9), double(n) - 1);
    if (first > last)
        return s;
    s.first = size_t(first);
    s.last = size_t(last);
    s.empty = false;
    double lo = INFINITY, hi = -INFINITY;
    for (size_t i = s.first; i <= s.last; ++i) {
        const double v = trace.mv[i];
        if (std::isfinite(v)) {
            lo = std::min(lo, v);
            hi = std::max(hi, v);
        }
    }
    if (lo <= hi) {
        s.lo = lo;
        s.hi = hi;
    }
    return s;
}

// One strip: a trace in one row. Heights in whole mm, the baseline (0 mV) on
// a 1 mm line.
struct Strip {
    Span span;
    double top = 0, height = 0, baseline = 0;
};

struct Row {
    double t0 = 0, t1 = 0;
    double top = 0, height = 0;  // of the grid block
    std::vector<Strip> strips;
};

struct Layout {
    double widthMm = 0, heightMm = 0;
    double gridLeft = 0, gridWidth = 0;  // whole mm
    double traceLeft = 0;                // x of each row's start time
    double labelLeft = 0;
    std::vector<Row> rows;
};

double TextWidthMm(const std::string& text, double sizeMm, bool bold)
{
    SurfacePtr surface(cairo_image_surface_create(CAIRO_FORMAT_A8, 1, 1));
    ContextPtr cr(cairo_create(surface.get()));
    cairo_select_font_face(cr.get(), "sans-serif", CAIRO_FONT_SLANT_NORMAL,
                           bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr.get(), sizeMm);
    cairo_text_extents_t e;
    cairo_text_extents(cr.get(), text.c_str(), &e);
    return e.x_advance;
}

Layout LayOut(const std::vector<Trace>& traces, const PaperOptions& o)
{
    Layout l;
    double labelMm = 10.0;
    for (const Trace& t : traces)
        labelMm = std::max(labelMm, std::ceil(TextWidthMm(t.label, kLabelFontMm, true) + 3.0));
    l.labelLeft = kMarginMm;
    l.gridLeft = kMarginMm + labelMm;
    // Calibration pulse: 1 mm baseline, the pulse, 1 mm baseline, then a gap;
    // the trace starts on a 5 mm line.
    const double calibration = o.calibration
        ? std::ceil((kCalibrationSeconds * o.mmPerSecond + 5.0) / 5.0) * 5.0 : 0.0;
    l.traceLeft = l.gridLeft + calibration;
    l.gridWidth = std::ceil((calibration + o.secondsPerRow * o.mmPerSecond) / 5.0 - 1e-9) * 5.0;
    l.widthMm = l.gridLeft + l.gridWidth + kMarginMm;

    double duration = 0;
    for (const Trace& t : traces)
        duration = std::max(duration, double(t.mv.size() - 1) / t.rate);
    const size_t rows = std::max<size_t>(1, size_t(std::ceil(duration / o.secondsPerRow - 1e-9)));

    double y = kMarginMm + (o.title.empty() ? 0 : kTitleLineMm) + kLegendLineMm + kHeaderGapMm;
    for (size_t r = 0; r < rows; ++r) {
        Row row;
        row.t0 = r * o.secondsPerRow;
        row.t1 = row.t0 + o.secondsPerRow;
        row.top = y;
        for (const Trace& t : traces) {
            Strip s;
            s.span = SpanOf(t, row.t0, row.t1);
            const double hi = std::max(s.span.hi, o.calibration ? 1.0 : 0.0);
            const double lo = std::min(s.span.lo, 0.0);
            double above = std::ceil(kMarkSpaceMm + hi * o.mmPerMv - 1e-9);
            const double below = std::ceil(kBelowTraceMm - lo * o.mmPerMv - 1e-9);
            s.height = std::max(kMinStripMm, std::ceil((above + below) / 5.0) * 5.0);
            above += std::floor((s.height - above - below) / 2.0);
            s.top = y;
            s.baseline = y + above;
            y += s.height;
            row.strips.push_back(s);
        }
        row.height = y - row.top;
        y += kTimeBandMm;
        l.rows.push_back(row);
    }
    l.heightMm = y + kMarginMm - 2.0;
    return l;
}

// Drawing, in mm on a context scaled to the device.
class Painter {
public:
    Painter(cairo_t* cr, double pxPerMm, bool raster) : cr_(cr), pxPerMm_(pxPerMm), raster_(raster)
    {
        cairo_scale(cr, pxPerMm, pxPerMm);
        cairo_font_options_t* fo = cairo_font_options_create();
        cairo_font_options_set_hint_metrics(fo, CAIRO_HINT_METRICS_OFF);
        cairo_set_font_options(cr, fo);
        cairo_font_options_destroy(fo);
    }

    // Width of a line of nominal mm width: whole pixels in a PNG.
    double LineWidth(double mm, double minPx) const
    {
        if (!raster_)
            return mm;
        return std::max(minPx, std::round(mm * pxPerMm_)) / pxPerMm_;
    }

    // A grid coordinate moved to where a line of this width covers whole pixels.
    double Snap(double mm, double width) const
    {
        if (!raster_)
            return mm;
        const double px = mm * pxPerMm_;
        const long w = std::lround(width * pxPerMm_);
        return (w % 2 ? std::floor(px) + 0.5 : std::round(px)) / pxPerMm_;
    }

    void Grid(double left, double top, double width, double height) const
    {
        const double minor = LineWidth(0.1, 1), major = LineWidth(0.2, minor * pxPerMm_ + 1);
        cairo_set_line_cap(cr_, CAIRO_LINE_CAP_BUTT);
        for (int pass = 0; pass < 2; ++pass) {
            const bool majors = pass == 1;
            const double w = majors ? major : minor;
            SetColour(cr_, majors ? kMajorGridRgb : kMinorGridRgb);
            cairo_set_line_width(cr_, w);
            const double y0 = Snap(top, w), y1 = Snap(top + height, w);
            const double x0 = Snap(left, w), x1 = Snap(left + width, w);
            for (long k = 0; k <= std::lround(width); ++k) {
                if ((k % 5 == 0) != majors)
                    continue;
                const double x = Snap(left + k, w);
                cairo_move_to(cr_, x, y0);
                cairo_line_to(cr_, x, y1);
            }
            for (long k = 0; k <= std::lround(height); ++k) {
                if ((k % 5 == 0) != majors)
                    continue;
                const double y = Snap(top + k, w);
                cairo_move_to(cr_, x0, y);
                cairo_line_to(cr_, x1, y);
            }
            cairo_stroke(cr_);
        }
    }

    enum class Align { Left, Right };
    void Text(const std::string& text, double x, double baseline, double sizeMm, bool bold,
              Align align = Align::Left) const
    {
        cairo_select_font_face(cr_, "sans-serif", CAIRO_FONT_SLANT_NORMAL,
                               bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
        cairo_set_font_size(cr_, sizeMm);
        if (align == Align::Right) {
            cairo_text_extents_t e;
            cairo_text_extents(cr_, text.c_str(), &e);
            x -= e.x_advance;
        }
        SetColour(cr_, kTextRgb);
        cairo_move_to(cr_, x, baseline);
        cairo_show_text(cr_, text.c_str());
        cairo_new_path(cr_);
    }

    void TraceStyle() const
    {
        SetColour(cr_, kTraceRgb);
        cairo_set_line_width(cr_, LineWidth(0.3, 2));
        cairo_set_line_cap(cr_, CAIRO_LINE_CAP_ROUND);
        cairo_set_line_join(cr_, CAIRO_LINE_JOIN_ROUND);
    }

    cairo_t* cr() const { return cr_; }

private:
    cairo_t* cr_;
    double pxPerMm_;
    bool raster_;
};

// Adds a row's samples of a trace to the path. Where several samples fall in
// one column of the output (a pixel, or 1/600 inch in SVG/PDF), the column
// gets its lowest and highest sample in their order, so the line keeps every
// excursion (a pacing pulse of a single sample included) at a cost bounded
// by the page width. Non-finite samples break the line.
void TracePath(cairo_t* cr, const Trace& trace, const Span& span, double t0, double left, double baseline,
               const PaperOptions& o, double columnMm)
{
    const double mmPerSample = o.mmPerSecond / trace.rate;
    auto y = [&](double v) { return baseline - v * o.mmPerMv; };
    bool pen = false;
    auto to = [&](double x, double v) {
        if (pen)
            cairo_line_to(cr, x, y(v));
        else
            cairo_move_to(cr, x, y(v));
        pen = true;
    };
    const double start = left + (double(span.first) / trace.rate - t0) * o.mmPerSecond;
    if (mmPerSample * 4 > columnMm) {
        for (size_t i = span.first; i <= span.last; ++i) {
            if (std::isfinite(trace.mv[i]))
                to(start + double(i - span.first) * mmPerSample, trace.mv[i]);
            else
                pen = false;
        }
        return;
    }
    const double offset = (start - left) / columnMm;  // columns from the row's start
    long column = -1;
    double lo = 0, hi = 0;
    size_t loAt = 0, hiAt = 0;
    auto flush = [&] {
        if (column < 0)
            return;
        const double x = left + (double(column) + 0.5) * columnMm;
        to(x, loAt < hiAt ? lo : hi);
        to(x, loAt < hiAt ? hi : lo);
        column = -1;
    };
    for (size_t i = span.first; i <= span.last; ++i) {
        const double v = trace.mv[i];
        if (!std::isfinite(v)) {
            flush();
            pen = false;
            continue;
        }
        const long c = long(offset + double(i - span.first) * mmPerSample / columnMm);
        if (c != column) {
            flush();
            column = c;
            lo = hi = v;
            loAt = hiAt = i;
        } else if (v < lo) {
            lo = v;
            loAt = i;
        } else if (v > hi) {
            hi = v;
            hiAt = i;
        }
    }
    flush();
}

void Paint(const Painter& p, const Layout& l, const std::vector<Trace>& traces, const PaperOptions& o,
           double columnMm)
{
    cairo_t* cr = p.cr();
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_paint(cr);

    double y = kMarginMm;
    if (!o.title.empty()) {
        y += kTitleLineMm;
        p.Text(o.title, l.labelLeft, y - 1.5, kTitleFontMm, true);
    }
    y += kLegendLineMm;
    p.Text(Number(o.mmPerSecond) + " mm/s  " + Number(o.mmPerMv) + " mm/mV", l.labelLeft, y - 1.2, kTextFontMm,
           false);

    const double pulse = kCalibrationSeconds * o.mmPerSecond;
    for (size_t r = 0; r < l.rows.size(); ++r) {
        const Row& row = l.rows[r];
        const bool lastRow = r + 1 == l.rows.size();
        p.Grid(l.gridLeft, row.top, l.gridWidth, row.height);
        for (size_t k = 0; k < traces.size(); ++k) {
            const Trace& trace = traces[k];
            const Strip& s = row.strips[k];
            p.Text(trace.label, l.gridLeft - 2.0, s.baseline + kLabelFontMm * 0.35, kLabelFontMm, true,
                   Painter::Align::Right);
            p.TraceStyle();
            if (o.calibration) {
                const double x = l.gridLeft + 1.0, top = s.baseline - o.mmPerMv;
                cairo_move_to(cr, x, s.baseline);
                cairo_line_to(cr, x + 1.0, s.baseline);
                cairo_line_to(cr, x + 1.0, top);
                cairo_line_to(cr, x + 1.0 + pulse, top);
                cairo_line_to(cr, x + 1.0 + pulse, s.baseline);
                cairo_line_to(cr, x + 2.0 + pulse, s.baseline);
                cairo_stroke(cr);
            }
            if (!s.span.empty) {
                TracePath(cr, trace, s.span, row.t0, l.traceLeft, s.baseline, o, columnMm);
                cairo_stroke(cr);
            }
            SetColour(cr, kPacingMarkRgb);
            for (double t : trace.pacingSeconds) {
                if (!(t >= row.t0 && (t < row.t1 || (lastRow && t <= row.t1))))
                    continue;
                const double x = l.traceLeft + (t - row.t0) * o.mmPerSecond;
                cairo_move_to(cr, x - 0.9, s.top + 0.6);
                cairo_line_to(cr, x + 0.9, s.top + 0.6);
                cairo_line_to(cr, x, s.top + 2.4);
                cairo_close_path(cr);
            }
            cairo_fill(cr);
        }
        // Time axis: a tick at every whole second, the row's start time.
        const double bottom = row.top + row.height;
        SetColour(cr, kTextRgb);
        cairo_set_line_width(cr, p.LineWidth(0.15, 1));
        cairo_set_line_cap(cr, CAIRO_LINE_CAP_BUTT);
        for (double t = std::ceil(row.t0 - 1e-9); t <= row.t1 + 1e-9; t += 1.0) {
            const double x = l.traceLeft + (t - row.t0) * o.mmPerSecond;
            cairo_move_to(cr, x, bottom);
            cairo_line_to(cr, x, bottom + 1.5);
        }
        cairo_stroke(cr);
        p.Text(Number(row.t0) + " s", l.traceLeft, bottom + 4.8, kTextFontMm, false);
    }
}

std::string Failed(const std::string& path, cairo_status_t status)
{
    return "cannot write " + path + ": " + cairo_status_to_string(status);
}

}  // namespace

std::string FileExtension(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    const size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return "";
    std::string ext = path.substr(dot);
    for (char& c : ext)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return ext;
}

std::string DrawEcgPaper(const std::string& path, const std::vector<Trace>& traces, const PaperOptions& options)
{
    const std::string ext = FileExtension(path);
    Format format;
    if (ext == ".png")
        format = Format::Png;
    else if (ext == ".svg")
        format = Format::Svg;
    else if (ext == ".pdf")
        format = Format::Pdf;
    else
        return "unknown file type '" + ext + "' of " + path + " (use .png, .svg or .pdf)";

    if (!Positive(options.mmPerSecond) || !Positive(options.mmPerMv) || !Positive(options.dpi) ||
        !Positive(options.secondsPerRow))
        return "mm/s, mm/mV, dpi and seconds per row must be positive";
    if (traces.empty())
        return "no traces to draw";
    for (const Trace& t : traces) {
        if (t.mv.empty())
            return "trace '" + t.label + "' has no samples";
        if (!Positive(t.rate))
            return "trace '" + t.label + "' has no sample rate";
    }

    const Layout layout = LayOut(traces, options);
    const bool raster = format == Format::Png;
    const double pxPerMm = (raster ? options.dpi : 72.0) / 25.4;
    const double width = std::ceil(layout.widthMm * pxPerMm), height = std::ceil(layout.heightMm * pxPerMm);
    SurfacePtr surface;
    if (raster) {
        if (width > kMaxRasterSide || height > kMaxRasterSide || width * height > kMaxRasterPixels)
            return "image of " + Number(width) + " x " + Number(height) +
                   " pixels too large: lower the dpi or the seconds per row";
        surface.reset(cairo_image_surface_create(CAIRO_FORMAT_RGB24, int(width), int(height)));
    } else if (format == Format::Svg) {
        surface.reset(cairo_svg_surface_create(path.c_str(), layout.widthMm * pxPerMm, layout.heightMm * pxPerMm));
    } else {
        surface.reset(cairo_pdf_surface_create(path.c_str(), layout.widthMm * pxPerMm, layout.heightMm * pxPerMm));
    }
    if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS)
        return Failed(path, cairo_surface_status(surface.get()));

    const double columnMm = 25.4 / (raster ? options.dpi : kVectorColumnsPerInch);
    {
        ContextPtr cr(cairo_create(surface.get()));
        Painter painter(cr.get(), pxPerMm, raster);
        Paint(painter, layout, traces, options, columnMm);
        if (cairo_status(cr.get()) != CAIRO_STATUS_SUCCESS)
            return Failed(path, cairo_status(cr.get()));
    }
    cairo_status_t status = CAIRO_STATUS_SUCCESS;
    if (raster)
        status = cairo_surface_write_to_png(surface.get(), path.c_str());
    cairo_surface_finish(surface.get());
    if (status == CAIRO_STATUS_SUCCESS)
        status = cairo_surface_status(surface.get());
    return status == CAIRO_STATUS_SUCCESS ? "" : Failed(path, status);
}

std::vector<double> FindPacingPulses(const std::vector<double>& mv, double rate, double minStepMv)
{
    std::vector<double> pulses;
    if (!Positive(rate) || !Positive(minStepMv))
        return pulses;
    const size_t window = std::max<size_t>(1, size_t(std::floor(1e-4 * rate + 1e-9)));
    const size_t width = size_t(std::ceil(2.5e-3 * rate - 1e-9));
    const size_t n = mv.size();
    for (size_t i = 0; i + 1 < n; ++i) {
        const size_t end = std::min(n - 1, i + window);
        size_t jump = 0;
        for (size_t j = i + 1; j <= end && jump == 0; ++j)
            if (std::fabs(mv[j] - mv[i]) >= minStepMv)
                jump = j;
        if (jump == 0)
            continue;
        // The edge is the steepest sample-to-sample step of the jump.
        size_t edge = i + 1;
        double steepest = -1;
        for (size_t k = i + 1; k <= jump; ++k)
            if (std::fabs(mv[k] - mv[k - 1]) > steepest) {
                steepest = std::fabs(mv[k] - mv[k - 1]);
                edge = k;
            }
        pulses.push_back(double(edge) / rate);
        i = edge + width;  // the rest of the pulse, its trailing edge included
    }
    return pulses;
}

}  // namespace hsimctl
