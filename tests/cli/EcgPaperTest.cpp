// ECG paper: the geometry measured on rendered PNGs (at 254 DPI 1 mm is 10 px),
// the output formats and refusals, and pacing pulses found in signals.
#include "cli/EcgPaper.h"

#include <cairo.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <unistd.h>

using namespace hsimctl;

namespace {

std::string TempPath(const std::string& name)
{
    return ::testing::TempDir() + "ecgpaper_" + std::to_string(getpid()) + "_" + name;
}

// Centres of the runs of consecutive values.
std::vector<double> Clusters(const std::vector<int>& at)
{
    std::vector<double> centres;
    for (size_t i = 0, start = 0; i < at.size(); ++i)
        if (i + 1 == at.size() || at[i + 1] - at[i] > 1)
            centres.push_back((at[start] + at[i]) / 2.0), start = i + 1;
    return centres;
}

// The largest departure of the distances between neighbours from `step`.
double WorstStep(const std::vector<double>& at, double step)
{
    double worst = 0;
    for (size_t i = 1; i < at.size(); ++i)
        worst = std::max(worst, std::fabs(at[i] - at[i - 1] - step));
    return worst;
}

// A PNG read back with Cairo.
struct Image {
    int w = 0, h = 0;  // 0 when unreadable
    std::vector<uint32_t> px;  // 0xRRGGBB, row after row
    explicit Image(const std::string& path)
    {
        cairo_surface_t* s = cairo_image_surface_create_from_png(path.c_str());
        w = cairo_image_surface_get_width(s), h = cairo_image_surface_get_height(s);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                px.push_back(reinterpret_cast<const uint32_t*>(cairo_image_surface_get_data(s) +
                                                               y * cairo_image_surface_get_stride(s))[x] & 0xFFFFFF);
        cairo_surface_destroy(s);
    }
    bool Is(int x, int y, Rgb c) const { return px[size_t(y) * w + x] == uint32_t(c.r << 16 | c.g << 8 | c.b); }
    // Positions of colour c along pixel row y, or down column x when y < 0.
    std::vector<int> Find(Rgb c, int y, int x = 0) const
    {
        std::vector<int> at;
        for (int i = 0; i < (y < 0 ? h : w); ++i)
            if (y < 0 ? Is(x, i, c) : Is(i, y, c))
                at.push_back(i);
        return at;
    }
    std::vector<double> InkRuns(int x) const { return Clusters(Find(kTraceRgb, -1, x)); }
    int LeftmostInk() const
    {
        int x = 0;
        while (x < w && InkRuns(x).empty())
            ++x;
        return x;
    }
};

Image Render(const std::vector<Trace>& traces, const PaperOptions& o, const std::string& name)
{
    EXPECT_EQ(DrawEcgPaper(TempPath(name), traces, o), "");
    Image image(TempPath(name));
    std::remove(TempPath(name).c_str());
    return image;
}

Trace Flat(double seconds, double rate = 1000)
{
    return Trace{"II", rate, std::vector<double>(size_t(seconds * rate) + 1, 0.0), {}};
}

}  // namespace

TEST(EcgPaperTest, GridLinesEveryMillimetreAndEveryFive)
{
    for (double dpi : {254.0, 300.0, 150.0}) {
        PaperOptions o;
        o.dpi = dpi;
        const Image img = Render({Flat(10)}, o, "grid.png");
        // A pixel row between horizontal lines and free of trace.
        int y = 0;
        while (y < img.h && (img.Find(kMajorGridRgb, y).empty() || !img.Find(kTraceRgb, y).empty() ||
                             img.Find(kMajorGridRgb, y).size() + img.Find(kMinorGridRgb, y).size() > size_t(img.w) / 3))
            ++y;
        ASSERT_LT(y, img.h);
        const std::vector<double> majors = Clusters(img.Find(kMajorGridRgb, y));
        std::vector<double> lines = Clusters(img.Find(kMinorGridRgb, y));
        lines.insert(lines.end(), majors.begin(), majors.end());
        std::sort(lines.begin(), lines.end());
        const double mm = dpi / 25.4;
        ASSERT_GT(majors.size(), 40u) << dpi;
        EXPECT_EQ(lines.size(), (majors.size() - 1) * 5 + 1) << dpi;
        EXPECT_LE(WorstStep(lines, mm), 1.0) << dpi;
        EXPECT_LE(WorstStep(majors, 5 * mm), 1.0) << dpi;
        EXPECT_NEAR((majors.back() - majors.front()) / (majors.size() - 1), 5 * mm, 0.05) << dpi;
    }
}

TEST(EcgPaperTest, CalibrationPulseAndPeaksToScale)
{
    // A 1.5 mV peak, 40 ms wide, at 1 s and at 3 s; 254 DPI.
    struct Case { double mmPerMv, mmPerSecond, seconds; size_t traces, pulses; };
    const Case kCases[] = {{10, 25, 4, 1, 1}, {20, 25, 4, 1, 1}, {10, 50, 4, 1, 1}, {10, 25, 25, 1, 3},
                           {5, 25, 12, 2, 4}};
    for (const Case& c : kCases) {
        PaperOptions o;
        o.dpi = 254, o.mmPerMv = c.mmPerMv, o.mmPerSecond = c.mmPerSecond;
        Trace t = Flat(c.seconds);
        for (int peak : {1000, 3000})
            for (int i = -20; i <= 20; ++i)
                t.mv[peak + i] = 1.5 * (1 - std::abs(i) / 20.0);
        const Image img = Render(std::vector<Trace>(c.traces, t), o, "scale.png");
        // The calibration pulse follows 1 mm of baseline; 25 px in, the column crosses its top.
        const int x0 = img.LeftmostInk();
        ASSERT_LT(x0, img.w);
        const double baseline = img.InkRuns(x0 + 5).at(0), top = img.InkRuns(x0 + 25).at(0);
        EXPECT_NEAR(baseline - top, c.mmPerMv * 10, 1.0);
        EXPECT_EQ(img.InkRuns(x0 + 25).size(), c.pulses) << "one pulse per strip and row";
        const std::vector<double> edges = Clusters(img.Find(kTraceRgb, int((baseline + top) / 2)));
        ASSERT_GE(edges.size(), 2u);
        EXPECT_NEAR(edges[1] - edges[0], 0.2 * c.mmPerSecond * 10, 1.0);
        // The peaks: the highest ink, the line's 3 px width above the peak by 1.5 px.
        int peakTop = 0;
        while (img.Find(kTraceRgb, peakTop).empty())
            ++peakTop;
        EXPECT_NEAR(baseline - (peakTop + 1.5), 1.5 * c.mmPerMv * 10, 1.5);
        const std::vector<double> peaks = Clusters(img.Find(kTraceRgb, peakTop));
        ASSERT_EQ(peaks.size(), 2u);
        EXPECT_NEAR(peaks[1] - peaks[0], 2 * c.mmPerSecond * 10, 1.5);
    }
}

TEST(EcgPaperTest, LongTracesKeepEveryPacingSpike)
{
    // 60 s of two 40 kHz channels: a 0.5 ms pulse at every half second past
    // the full second, +2 mV in the first, -2 mV in the second.
    std::vector<Trace> traces(2, Flat(60, 40000));
    for (int k = 0; k < 2; ++k)
        for (int s = 0; s < 60; ++s)
            std::fill_n(traces[k].mv.begin() + s * 40000 + 20000, 20, k == 0 ? 2.0 : -2.0);
    traces[0].pacingSeconds = FindPacingPulses(traces[0].mv, 40000, 1.0);
    EXPECT_EQ(traces[0].pacingSeconds.size(), 60u);
    const auto start = std::chrono::steady_clock::now();
    const Image img = Render(traces, PaperOptions{}, "long.png");  // 150 DPI: a column is 270 samples
    std::printf("60 s x 2 channels at 40 kHz: PNG drawn, written and read back in %.0f ms\n",
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    const double pxPerMm = 150 / 25.4;
    const int x0 = img.LeftmostInk();
    for (int k = 0; k < 2; ++k) {
        // Columns whose ink reaches 2 mV in the first row's strip k.
        const double baseline = img.InkRuns(x0 + 3).at(k);
        const std::vector<double> spikes =
            Clusters(img.Find(kTraceRgb, int(std::lround(baseline + (k == 0 ? -1 : 1) * (20 * pxPerMm - 1)))));
        ASSERT_EQ(spikes.size(), 10u) << "strip " << k;
        EXPECT_LE(WorstStep(spikes, 25 * pxPerMm), 1.5) << "strip " << k;
    }
}

TEST(EcgPaperTest, WrittenByExtensionOrRefusedSayingWhy)
{
    // A written file starts with `magic`; a refusal's message holds `says`.
    const struct { std::string path; Trace trace; const char* magic; const char* says; double mmPerSecond = 25; } kCases[] = {
        {TempPath("paper.svg"), Flat(3), "<svg", ""},
        {TempPath("paper.PDF"), Flat(3), "%PDF", ""},
        {TempPath("paper.Png"), Flat(3), "\x89PNG", ""},
        {TempPath("paper.bmp"), Flat(1), nullptr, ".bmp"},
        {TempPath("paper"), Flat(1), nullptr, "unknown file type"},
        {TempPath("empty.png"), Trace{"V1", 1000, {}, {}}, nullptr, "no samples"},
        {TempPath("norate.svg"), Trace{"V1", 0, {0.0}, {}}, nullptr, "rate"},
        {TempPath("still.png"), Flat(1), nullptr, "positive", 0},
        {"/nonexistent-directory/paper.png", Flat(1), nullptr, "cannot write"},
        {"/nonexistent-directory/paper.pdf", Flat(1), nullptr, "cannot write"}};
    for (const auto& c : kCases) {
        std::remove(c.path.c_str());
        const std::string message = DrawEcgPaper(c.path, {c.trace}, PaperOptions{.mmPerSecond = c.mmPerSecond, .title = "75 bpm, 2 mV pulses"});
        std::ifstream in(c.path, std::ios::binary);
        const std::string head(std::istreambuf_iterator<char>(in), {});
        const bool right = c.magic ? message.empty() && head.substr(0, 200).find(c.magic) != std::string::npos
                                   : message.find(c.says) != std::string::npos && head.empty();
        EXPECT_TRUE(right) << c.path << ": " << message;
        std::remove(c.path.c_str());
    }
}

TEST(FindPacingPulsesTest, EdgesOfPulsesOnly)
{
    // 0.5 s signals; box() is `mv` from `from` to `to` (s), else 0.
    auto box = [](double t, double from, double to, double mv) { return t >= from && t < to ? mv : 0.0; };
    using Signal = std::function<double(double)>;
    const struct { const char* what; double rate; Signal mv; std::vector<double> pulses; } kCases[] = {
        {"2 mV 1 ms", 40000, [&](double t) { return box(t, 0.1, 0.101, 2); }, {0.1}},
        {"on 0.5 mV", 40000, [&](double t) { return 0.5 + box(t, 0.1, 0.101, 2); }, {0.1}},
        {"2.5 ms wide, once", 40000, [&](double t) { return box(t, 0.2, 0.2025, 2); }, {0.2}},
        {"negative", 40000, [&](double t) { return box(t, 0.3, 0.3005, -2); }, {0.3}},
        {"two 10 ms apart", 40000, [&](double t) { return box(t, 0.1, 0.1005, 2) + box(t, 0.11, 0.1105, 2); },
         {0.1, 0.11}},
        {"below the step", 40000, [&](double t) { return box(t, 0.1, 0.101, 0.8); }, {}},
        {"one sample at 1 kHz", 1000, [&](double t) { return box(t, 0.25, 0.251, 2); }, {0.25}},
        {"steep ramp, 2 mV in 2 ms", 40000, [](double t) { return std::clamp((t - 0.2) * 1000, 0.0, 2.0); }, {}},
    };
    for (const auto& c : kCases) {
        std::vector<double> mv(size_t(0.5 * c.rate));
        for (size_t i = 0; i < mv.size(); ++i)
            mv[i] = c.mv((double(i) + 0.01) / c.rate);  // just past the sample time: no rounding at the edges
        const std::vector<double> found = FindPacingPulses(mv, c.rate, 1.0);
        ASSERT_EQ(found.size(), c.pulses.size()) << c.what;
        for (size_t k = 0; k < found.size(); ++k)
            EXPECT_NEAR(found[k], c.pulses[k], 0.5 / c.rate) << c.what;
    }
}

// A row is no longer than the signal, and its time axis is labelled every
// second: a 3 s trace at 25 mm/s spans 75 mm after the 10 mm calibration
// block (a 5 mm pulse and its gap, to the next 5 mm line), and carries the
// labels 0 s to 3 s 25 mm apart.
TEST(EcgPaperTest, RowFitsTheSignalAndEverySecondIsLabelled)
{
    PaperOptions o;
    o.dpi = 254;  // 10 px per mm
    const Image img = Render({Flat(3)}, o, "short.png");
    int y = 0;  // a pixel row through the grid, clear of the trace
    while (y < img.h && (img.Find(kMajorGridRgb, y).empty() || !img.Find(kTraceRgb, y).empty() ||
                         img.Find(kMajorGridRgb, y).size() > size_t(img.w) / 3))
        ++y;
    ASSERT_LT(y, img.h);
    const std::vector<double> majors = Clusters(img.Find(kMajorGridRgb, y));
    ASSERT_GE(majors.size(), 2u);
    EXPECT_NEAR(majors.back() - majors.front(), 850, 2) << "85 mm of grid, not a 10 s row";
    // Below the grid: the labels, groups of ink more than 3 mm apart.
    int bottom = 0;
    for (int row = 0; row < img.h; ++row)
        if (!img.Find(kMajorGridRgb, row).empty())
            bottom = row;
    std::vector<int> ink;
    for (int x = 0; x < img.w; ++x)
        for (int row = bottom + 20; row < std::min(img.h, bottom + 55); ++row)
            if (!img.Is(x, row, Rgb{255, 255, 255})) {
                ink.push_back(x);
                break;
            }
    std::vector<double> labels;
    for (size_t i = 0, start = 0; i < ink.size(); ++i)
        if (i + 1 == ink.size() || ink[i + 1] - ink[i] > 30)
            labels.push_back((ink[start] + ink[i]) / 2.0), start = i + 1;
    ASSERT_EQ(labels.size(), 4u) << "0 s, 1 s, 2 s and 3 s";
    EXPECT_LE(WorstStep({labels.begin() + 1, labels.end()}, 250), 15);
}

// A PDF is printed at true scale on A4 (595.28 x 841.89 pt, 210 x 297 mm):
// portrait when a row fits across 210 mm, landscape when it needs up to
// 297 mm, rows stacked onto further pages, and rows too long for landscape
// shortened rather than scaled.
TEST(EcgPaperTest, PdfIsA4AtTrueScale)
{
    const struct {
        double seconds, mmPerSecond, secondsPerRow;
        bool portrait;
        size_t pages;
    } kCases[] = {
        {3, 25, 10, true, 1},     // 75 mm of trace
        {25, 25, 10, false, 1},   // three rows of 250 mm
        {120, 25, 10, false, 2},  // twelve rows of 27 mm under a 21 mm header: 6 to a 210 mm page
        {10, 100, 10, false, 1},  // 1000 mm rows: 2 s rows fit 297 mm
    };
    for (const auto& c : kCases) {
        PaperOptions o;
        o.mmPerSecond = c.mmPerSecond;
        o.secondsPerRow = c.secondsPerRow;
        o.title = "a title";
        const std::string path = TempPath("a4.pdf");
        ASSERT_EQ(DrawEcgPaper(path, {Flat(c.seconds, 500)}, o), "");
        std::ifstream in(path, std::ios::binary);
        const std::string pdf(std::istreambuf_iterator<char>(in), {});
        std::remove(path.c_str());
        size_t pages = 0;
        for (size_t at = 0; (at = pdf.find("/MediaBox [", at)) != std::string::npos; ++at, ++pages) {
            double x0, y0, w, h;
            ASSERT_EQ(std::sscanf(pdf.c_str() + at, "/MediaBox [ %lf %lf %lf %lf", &x0, &y0, &w, &h), 4);
            EXPECT_NEAR(w, c.portrait ? 595.28 : 841.89, 0.01) << c.seconds << " s";
            EXPECT_NEAR(h, c.portrait ? 841.89 : 595.28, 0.01) << c.seconds << " s";
        }
        EXPECT_EQ(pages, c.pages) << c.seconds << " s";
    }
}

// The block a report draws on its own page keeps the scale: drawn at 10 px
// per mm, the major lines are 50 px apart and the 1 mV calibration pulse is
// 100 px high.
TEST(EcgPaperTest, BlockOnAPageKeepsTheScale)
{
    const EcgPaperBlock block({Flat(4)}, PaperOptions{});
    ASSERT_EQ(block.Error(), "");
    EXPECT_NEAR(block.Width(), 6 + 10 + 100, 1e-9) << "label column, calibration block, 4 s at 25 mm/s";
    ASSERT_EQ(block.Rows(), 1u);
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 1400, 400);
    cairo_t* cr = cairo_create(surface);
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_paint(cr);
    cairo_scale(cr, 10, 10);
    block.DrawRows(cr, 10.0, 5.0, 0, 1);
    cairo_destroy(cr);
    const std::string path = TempPath("block.png");
    cairo_surface_write_to_png(surface, path.c_str());
    cairo_surface_destroy(surface);
    const Image img(path);
    std::remove(path.c_str());
    // Major lines: columns where a vertical run of major-grid ink is long.
    std::vector<int> columns;
    for (int x = 0; x < img.w; ++x) {
        int major = 0;
        for (int y = 0; y < img.h; ++y) {
            const uint32_t p = img.px[size_t(y) * img.w + x];
            const int r = p >> 16, g = (p >> 8) & 255;
            major += r > 200 && g < 160;  // the major lines' red, antialiased
        }
        if (major > 150)
            columns.push_back(x);
    }
    const std::vector<double> majors = Clusters(columns);
    ASSERT_GE(majors.size(), 10u);
    EXPECT_LE(WorstStep(majors, 50), 1.5);
    // The calibration pulse: from 1 mm past the grid's left edge 1 mm of
    // baseline, then the pulse; 4.5 mm past that edge the column crosses its top.
    const int x = int(std::lround(majors.front())) + 45;
    std::vector<int> dark;
    for (int y = 0; y < img.h; ++y)
        if ((img.px[size_t(y) * img.w + x] & 0xFF) < 60)
            dark.push_back(y);
    const int left = int(std::lround(majors.front())) + 15;  // the baseline before the pulse
    std::vector<int> base;
    for (int y = 0; y < img.h; ++y)
        if ((img.px[size_t(y) * img.w + left] & 0xFF) < 60)
            base.push_back(y);
    ASSERT_FALSE(dark.empty());
    ASSERT_FALSE(base.empty());
    EXPECT_NEAR(Clusters(base).front() - Clusters(dark).front(), 100, 2.0);
}
