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
        const Image img = Render({Flat(2)}, o, "grid.png");
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
