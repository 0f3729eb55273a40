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
#include <string_view>

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
constexpr double kLabelColumnMm = 6.0;   // left of the grid: each strip's name, read upwards
constexpr double kA4ShortMm = 210.0, kA4LongMm = 297.0;
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

// A block of rows; every position is in mm from the block's top-left
// corner until Shift() places it.
struct Layout {
    double widthMm = 0, heightMm = 0;    // the label column and the grid; all rows with their time bands
    double gridLeft = 0, gridWidth = 0;  // whole mm
    double traceLeft = 0;                // x of each row's start time
    double labelLeft = 0;
    std::vector<Row> rows;
};

void Shift(Layout& l, double dx, double dy)
{
    l.gridLeft += dx, l.traceLeft += dx, l.labelLeft += dx;
    for (Row& row : l.rows) {
        row.top += dy;
        for (Strip& s : row.strips)
            s.top += dy, s.baseline += dy;
    }
}

double TextWidthMm(const std::string& text, double sizeMm, bool bold)
{
    SurfacePtr surface(cairo_image_surface_create(CAIRO_FORMAT_A8, 1, 1));
    ContextPtr cr(cairo_create(surface.get()));
    cairo_select_font_face(cr.get(), "sans-serif", CAIRO_FONT_SLANT_NORMAL,
                           bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr.get(), sizeMm);
    cairo_text_extents_t e;
    cairo_text_extents(cr.get(), ValidUtf8(text).c_str(), &e);
    return e.x_advance;
}

// The time from the first to the last sample of the longest trace (at least
// one sample interval), s.
double Duration(const std::vector<Trace>& traces)
{
    double duration = 0;
    for (const Trace& t : traces)
        duration = std::max(duration, std::max(double(t.mv.size() - 1), 1.0) / t.rate);
    return duration;
}

// Rows as long as asked, but no longer than the longest trace.
double RowSeconds(const std::vector<Trace>& traces, const PaperOptions& o)
{
    return std::min(o.secondsPerRow, Duration(traces));
}

double CalibrationMm(const PaperOptions& o)
{
    // 1 mm baseline, the pulse, 1 mm baseline, then a gap; the trace starts
    // on a 5 mm line.
    return o.calibration ? std::ceil((kCalibrationSeconds * o.mmPerSecond + 5.0) / 5.0) * 5.0 : 0.0;
}

Layout LayOut(const std::vector<Trace>& traces, const PaperOptions& o)
{
    Layout l;
    l.labelLeft = 0;
    l.gridLeft = kLabelColumnMm;
    const double calibration = CalibrationMm(o);
    const double rowSeconds = RowSeconds(traces, o);
    l.traceLeft = l.gridLeft + calibration;
    l.gridWidth = std::ceil((calibration + rowSeconds * o.mmPerSecond) / 5.0 - 1e-9) * 5.0;
    l.widthMm = l.gridLeft + l.gridWidth;

    double duration = 0;
    for (const Trace& t : traces)
        duration = std::max(duration, double(t.mv.size() - 1) / t.rate);
    const size_t rows = std::max<size_t>(1, size_t(std::ceil(duration / rowSeconds - 1e-9)));

    double y = 0;
    for (size_t r = 0; r < rows; ++r) {
        Row row;
        row.t0 = r * rowSeconds;
        row.t1 = row.t0 + rowSeconds;
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
    l.heightMm = y;
    return l;
}

double HeaderMm(const PaperOptions& o)
{
    return (o.title.empty() ? 0 : kTitleLineMm) + kLegendLineMm + kHeaderGapMm;
}

// Drawing, in mm on a context scaled to the device.
class Painter {
public:
    // cr's user unit is the millimetre; a raster surface has pxPerMm pixels
    // to it, from its corner.
    Painter(cairo_t* cr, double pxPerMm, bool raster) : cr_(cr), pxPerMm_(pxPerMm), raster_(raster)
    {
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

    enum class Align { Left, Centre, Right };
    void Text(const std::string& text, double x, double baseline, double sizeMm, bool bold,
              Align align = Align::Left, double angle = 0) const
    {
        const std::string valid = ValidUtf8(text);
        cairo_save(cr_);
        cairo_select_font_face(cr_, "sans-serif", CAIRO_FONT_SLANT_NORMAL,
                               bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
        cairo_set_font_size(cr_, sizeMm);
        cairo_translate(cr_, x, baseline);
        cairo_rotate(cr_, angle);
        double shift = 0;
        if (align != Align::Left) {
            cairo_text_extents_t e;
            cairo_text_extents(cr_, valid.c_str(), &e);
            shift = align == Align::Right ? e.x_advance : e.x_advance / 2;
        }
        SetColour(cr_, kTextRgb);
        cairo_move_to(cr_, -shift, 0);
        cairo_show_text(cr_, valid.c_str());
        cairo_new_path(cr_);
        cairo_restore(cr_);
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

// The seconds between labelled ticks of the time axis: labels at least
// 10 mm apart.
double LabelStep(double mmPerSecond)
{
    for (double step : {1.0, 2.0, 5.0, 10.0, 20.0, 30.0, 60.0, 120.0, 300.0, 600.0})
        if (step * mmPerSecond >= 10.0)
            return step;
    return 1800.0;
}

std::string Seconds(double t)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.10g s", std::round(t * 1000) / 1000 + 0.0);  // never "-0 s"
    return text;
}

// Rows [first, first + count) of a placed layout.
void PaintRows(const Painter& p, const Layout& l, const std::vector<Trace>& traces, const PaperOptions& o,
               double columnMm, size_t first, size_t count)
{
    cairo_t* cr = p.cr();
    const double pulse = kCalibrationSeconds * o.mmPerSecond;
    // The strips' names, read upwards beside them, all of one size: smaller
    // when one would not fit its strip's height.
    double labelSize = kLabelFontMm;
    for (const Row& row : l.rows)
        for (size_t k = 0; k < traces.size(); ++k)
            if (const double width = TextWidthMm(traces[k].label, 1.0, true); width > 0)
                labelSize = std::min(labelSize, (row.strips[k].height - 2.0) / width);
    for (size_t r = first; r < std::min(l.rows.size(), first + count); ++r) {
        const Row& row = l.rows[r];
        const bool lastRow = r + 1 == l.rows.size();
        p.Grid(l.gridLeft, row.top, l.gridWidth, row.height);
        for (size_t k = 0; k < traces.size(); ++k) {
            const Trace& trace = traces[k];
            const Strip& s = row.strips[k];
            p.Text(trace.label, l.gridLeft - 1.2, s.top + s.height / 2, labelSize, true, Painter::Align::Centre,
                   -M_PI / 2);
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
        // Time axis: a tick at every whole second (when they are 1 mm apart
        // or more), labelled at least every 10 mm.
        const double bottom = row.top + row.height;
        const double labelStep = LabelStep(o.mmPerSecond);
        const double tickStep = o.mmPerSecond >= 1.0 ? 1.0 : labelStep;
        SetColour(cr, kTextRgb);
        cairo_set_line_width(cr, p.LineWidth(0.15, 1));
        cairo_set_line_cap(cr, CAIRO_LINE_CAP_BUTT);
        for (double t = std::ceil(row.t0 / tickStep - 1e-9) * tickStep; t <= row.t1 + 1e-9; t += tickStep) {
            const double x = l.traceLeft + (t - row.t0) * o.mmPerSecond;
            cairo_move_to(cr, x, bottom);
            cairo_line_to(cr, x, bottom + 1.5);
        }
        cairo_stroke(cr);
        for (double t = std::ceil(row.t0 / labelStep - 1e-9) * labelStep; t <= row.t1 + 1e-9; t += labelStep)
            p.Text(Seconds(t), l.traceLeft + (t - row.t0) * o.mmPerSecond, bottom + 4.8, kTextFontMm, false,
                   t == row.t0 ? Painter::Align::Left : Painter::Align::Centre);
        if (std::fmod(row.t0, labelStep) > 1e-9)  // a row that starts between labels says where
            p.Text(Seconds(row.t0), l.traceLeft, bottom + 4.8, kTextFontMm, false);
    }
}

// The title and the scale at (left, top); `note` right-aligned at `right`.
void PaintHeader(const Painter& p, const PaperOptions& o, double left, double top, double right,
                 const std::string& note)
{
    double y = top;
    if (!o.title.empty()) {
        y += kTitleLineMm;
        p.Text(o.title, left, y - 1.5, kTitleFontMm, true);
    }
    y += kLegendLineMm;
    p.Text(Number(o.mmPerSecond) + " mm/s  " + Number(o.mmPerMv) + " mm/mV", left, y - 1.2, kTextFontMm, false);
    if (!note.empty())
        p.Text(note, right, y - 1.2, kTextFontMm, false, Painter::Align::Right);
}

void PaintWhite(cairo_t* cr)
{
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_paint(cr);
}

std::string Failed(const std::string& path, cairo_status_t status)
{
    return "cannot write " + path + ": " + cairo_status_to_string(status);
}

std::string CheckTraces(const std::vector<Trace>& traces, const PaperOptions& options)
{
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
    return "";
}

// A PDF of A4 pages: portrait when a row fits its width, else landscape;
// rows too long for landscape are shortened to fit. The scale stays true.
std::string DrawA4(const std::string& path, const std::vector<Trace>& traces, PaperOptions o)
{
    if (kLabelColumnMm + CalibrationMm(o) + RowSeconds(traces, o) * o.mmPerSecond > kA4LongMm - 2 * kMarginMm)
        o.secondsPerRow = RowSecondsToFit(kA4LongMm - 2 * kMarginMm, o);
    Layout l = LayOut(traces, o);
    const bool portrait = l.widthMm + 2 * kMarginMm <= kA4ShortMm;
    const double pageWidth = portrait ? kA4ShortMm : kA4LongMm, pageHeight = portrait ? kA4LongMm : kA4ShortMm;
    const double header = kMarginMm + HeaderMm(o);
    // Rows to pages: each page as many whole rows as fit under its header.
    std::vector<std::pair<size_t, size_t>> pages;  // first row, count
    double y = header;
    for (size_t r = 0; r < l.rows.size(); ++r) {
        const double height = l.rows[r].height + kTimeBandMm;
        if (pages.empty() || (y + height > pageHeight - kMarginMm && pages.back().second > 0)) {
            pages.emplace_back(r, 0);
            y = header;
        }
        ++pages.back().second;
        y += height;
    }
    constexpr double kPointsPerMm = 72.0 / 25.4;
    SurfacePtr surface(cairo_pdf_surface_create(path.c_str(), pageWidth * kPointsPerMm, pageHeight * kPointsPerMm));
    if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS)
        return Failed(path, cairo_surface_status(surface.get()));
    ContextPtr cr(cairo_create(surface.get()));
    cairo_scale(cr.get(), kPointsPerMm, kPointsPerMm);
    const Painter painter(cr.get(), kPointsPerMm, false);
    const double left = (pageWidth - l.widthMm) / 2;
    const double columnMm = 25.4 / kVectorColumnsPerInch;
    for (size_t page = 0; page < pages.size(); ++page) {
        PaintWhite(cr.get());
        PaintHeader(painter, o, left, kMarginMm, left + l.widthMm,
                    pages.size() > 1 ? "page " + std::to_string(page + 1) + " of " + std::to_string(pages.size())
                                     : "");
        Layout placed = l;
        Shift(placed, left, header - l.rows[pages[page].first].top);
        PaintRows(painter, placed, traces, o, columnMm, pages[page].first, pages[page].second);
        cairo_show_page(cr.get());
    }
    if (cairo_status(cr.get()) != CAIRO_STATUS_SUCCESS)
        return Failed(path, cairo_status(cr.get()));
    cr.reset();
    cairo_surface_finish(surface.get());
    return cairo_surface_status(surface.get()) == CAIRO_STATUS_SUCCESS ? ""
                                                                        : Failed(path, cairo_surface_status(surface.get()));
}

}  // namespace

std::string ValidUtf8(std::string_view text)
{
    std::string valid;
    for (size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        const int length = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        bool ok = length > 0 && i + size_t(length) <= text.size();
        for (int k = 1; ok && k < length; ++k)
            ok = (static_cast<unsigned char>(text[i + size_t(k)]) & 0xC0) == 0x80;
        if (ok && length > 1) {
            // No overlong forms, surrogates or code points past U+10FFFF.
            char32_t code = c & (0x7F >> length);
            for (int k = 1; k < length; ++k)
                code = (code << 6) | (static_cast<unsigned char>(text[i + size_t(k)]) & 0x3F);
            const char32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
            ok = code >= least[length] && code <= 0x10FFFF && !(code >= 0xD800 && code <= 0xDFFF);
        }
        if (ok) {
            valid.append(text.substr(i, size_t(length)));
            i += size_t(length);
        } else {
            valid += "\xEF\xBF\xBD";  // U+FFFD
            ++i;
        }
    }
    return valid;
}

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
    if (const std::string refused = CheckTraces(traces, options); !refused.empty())
        return refused;
    if (format == Format::Pdf)
        return DrawA4(path, traces, options);

    Layout layout = LayOut(traces, options);
    const double header = kMarginMm + HeaderMm(options);
    Shift(layout, kMarginMm, header);
    const double titleMm = options.title.empty() ? 0 : TextWidthMm(ValidUtf8(options.title), kTitleFontMm, true);
    const double widthMm = std::ceil(std::max(layout.widthMm, titleMm)) + 2 * kMarginMm;
    const double heightMm = header + layout.heightMm + kMarginMm - 2.0;
    const bool raster = format == Format::Png;
    const double pxPerMm = (raster ? options.dpi : 72.0) / 25.4;
    const double width = std::ceil(widthMm * pxPerMm), height = std::ceil(heightMm * pxPerMm);
    SurfacePtr surface;
    if (raster) {
        if (width > kMaxRasterSide || height > kMaxRasterSide || width * height > kMaxRasterPixels)
            return "image of " + Number(width) + " x " + Number(height) +
                   " pixels too large: lower the dpi or the seconds per row";
        surface.reset(cairo_image_surface_create(CAIRO_FORMAT_RGB24, int(width), int(height)));
    } else {
        surface.reset(cairo_svg_surface_create(path.c_str(), widthMm * pxPerMm, heightMm * pxPerMm));
    }
    if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS)
        return Failed(path, cairo_surface_status(surface.get()));

    const double columnMm = 25.4 / (raster ? options.dpi : kVectorColumnsPerInch);
    {
        ContextPtr cr(cairo_create(surface.get()));
        cairo_scale(cr.get(), pxPerMm, pxPerMm);
        const Painter painter(cr.get(), pxPerMm, raster);
        PaintWhite(cr.get());
        PaintHeader(painter, options, kMarginMm, kMarginMm, 0, "");
        PaintRows(painter, layout, traces, options, columnMm, 0, layout.rows.size());
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

struct EcgPaperBlock::Placed {
    Layout layout;
};

EcgPaperBlock::EcgPaperBlock(std::vector<Trace> traces, const PaperOptions& options)
    : m_Traces(std::move(traces)), m_Options(options)
{
    m_Error = CheckTraces(m_Traces, m_Options);
    if (m_Error.empty())
        m_Layout = std::make_shared<Placed>(Placed{LayOut(m_Traces, m_Options)});
}

double EcgPaperBlock::Width() const { return m_Layout ? m_Layout->layout.widthMm : 0; }
size_t EcgPaperBlock::Rows() const { return m_Layout ? m_Layout->layout.rows.size() : 0; }
double EcgPaperBlock::RowHeight(size_t row) const
{
    return m_Layout && row < Rows() ? m_Layout->layout.rows[row].height + kTimeBandMm : 0;
}

void EcgPaperBlock::DrawRows(cairo_t* cr, double left, double top, size_t first, size_t count) const
{
    if (!m_Layout || first >= Rows())
        return;
    Layout placed = m_Layout->layout;
    Shift(placed, left, top - placed.rows[first].top);
    const Painter painter(cr, 1.0, false);
    PaintRows(painter, placed, m_Traces, m_Options, 25.4 / kVectorColumnsPerInch, first, count);
}

double RowSecondsToFit(double widthMm, const PaperOptions& options)
{
    const double fit = (widthMm - kLabelColumnMm - CalibrationMm(options)) / options.mmPerSecond;
    return fit >= 1 ? std::floor(fit) : std::max(0.01, std::floor(fit * 100) / 100);
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
