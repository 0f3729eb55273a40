// `hsimctl report`: a scenario's JSON report printed as A4 pages (PDF): the
// header with what was tested, with what, by whom and when; a table of the
// steps with their settings as read back, their result and stream figures;
// and the strip of each step that played or recorded a signal, on ECG paper
// at true scale (25 mm/s, 10 mm/mV). Every page carries the scenario's name,
// its date and "page n of N".
#include "Commands.h"

#include "EcgPaper.h"

#include <cairo-pdf.h>
#include <cairo.h>
#include <nlohmann/json.hpp>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>

namespace hsimctl {
namespace {

using Json = nlohmann::ordered_json;  // the settings in the order the report gives them

constexpr double kPageWidth = 210.0, kPageHeight = 297.0;  // A4 portrait, mm
constexpr double kMargin = 15.0;
constexpr double kContentWidth = kPageWidth - 2 * kMargin;
constexpr double kPointsPerMm = 72.0 / 25.4;
constexpr double kFieldFont = 3.0, kTableFont = 2.5, kHeadingFont = 3.6, kTitleFont = 5.0;

struct Colour {
    double r, g, b;
};
constexpr Colour kInk{0.1, 0.1, 0.15}, kGrey{0.45, 0.45, 0.5}, kPass{0.0, 0.45, 0.15}, kFail{0.75, 0.0, 0.0};

std::string Str(const Json& j, const char* key, const std::string& otherwise = "")
{
    if (!j.is_object() || !j.contains(key))
        return otherwise;
    const Json& v = j[key];
    if (v.is_string())
        return v.get<std::string>();
    if (v.is_null())
        return otherwise;
    return v.dump();
}

std::string Fixed(double v, int decimals)
{
    char text[48];
    std::snprintf(text, sizeof text, "%.*f", decimals, v);
    return text;
}

// Pages of text and ECG paper in mm, from top to bottom.
class Pages {
public:
    Pages(cairo_t* cr, std::string header, int total) : m_Cr(cr), m_Header(std::move(header)), m_Total(total)
    {
        cairo_scale(cr, kPointsPerMm, kPointsPerMm);
        cairo_font_options_t* fo = cairo_font_options_create();
        cairo_font_options_set_hint_metrics(fo, CAIRO_HINT_METRICS_OFF);
        cairo_set_font_options(cr, fo);
        cairo_font_options_destroy(fo);
        Begin();
    }

    int Count() const { return m_Page; }
    double y() const { return m_Y; }
    void Down(double mm) { m_Y += mm; }
    // Room for `mm` more on this page, else a new page.
    void Need(double mm)
    {
        if (m_Y + mm > kPageHeight - kMargin - 6.0)
            NewPage();
    }
    void NewPage()
    {
        cairo_show_page(m_Cr);
        Begin();
    }
    void Finish() { cairo_show_page(m_Cr); }

    double Width(const std::string& text, double size, bool bold = false) const
    {
        Font(size, bold);
        cairo_text_extents_t e;
        cairo_text_extents(m_Cr, ValidUtf8(text).c_str(), &e);
        return e.x_advance;
    }
    void Text(const std::string& text, double x, double baseline, double size, bool bold = false,
              Colour colour = kInk) const
    {
        Font(size, bold);
        cairo_set_source_rgb(m_Cr, colour.r, colour.g, colour.b);
        cairo_move_to(m_Cr, x, baseline);
        cairo_show_text(m_Cr, ValidUtf8(text).c_str());
        cairo_new_path(m_Cr);
    }
    // Lines of at most `width` mm, broken at spaces (a longer word at any
    // character).
    std::vector<std::string> Wrap(const std::string& text, double size, double width, bool bold = false) const
    {
        std::vector<std::string> lines;
        std::string line;
        std::istringstream words(ValidUtf8(text));
        for (std::string word; words >> word;) {
            const std::string longer = line.empty() ? word : line + " " + word;
            if (Width(longer, size, bold) <= width) {
                line = longer;
                continue;
            }
            if (!line.empty())
                lines.push_back(line);
            line.clear();
            // A word wider than the column is cut (at a character's start).
            while (Width(word, size, bold) > width) {
                size_t cut = word.size();
                while (cut > 1 && Width(word.substr(0, cut), size, bold) > width)
                    do
                        --cut;
                    while (cut > 1 && (static_cast<unsigned char>(word[cut]) & 0xC0) == 0x80);
                lines.push_back(word.substr(0, cut));
                word = word.substr(cut);
            }
            line = word;
        }
        if (!line.empty() || lines.empty())
            lines.push_back(line);
        return lines;
    }
    void Line(double x0, double y0, double x1, double y1, double width, Colour colour = kGrey) const
    {
        cairo_set_source_rgb(m_Cr, colour.r, colour.g, colour.b);
        cairo_set_line_width(m_Cr, width);
        cairo_move_to(m_Cr, x0, y0);
        cairo_line_to(m_Cr, x1, y1);
        cairo_stroke(m_Cr);
    }
    cairo_t* cr() const { return m_Cr; }

private:
    void Font(double size, bool bold) const
    {
        cairo_select_font_face(m_Cr, "sans-serif", CAIRO_FONT_SLANT_NORMAL,
                               bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
        cairo_set_font_size(m_Cr, size);
    }
    void Begin()
    {
        ++m_Page;
        cairo_set_source_rgb(m_Cr, 1, 1, 1);
        cairo_paint(m_Cr);
        const std::string page = "page " + std::to_string(m_Page) + " of " + std::to_string(m_Total);
        Text(m_Header, kMargin, kMargin - 4.0, 2.8, false, kGrey);
        Text(page, kPageWidth - kMargin - Width(page, 2.8), kMargin - 4.0, 2.8, false, kGrey);
        Line(kMargin, kMargin - 2.5, kPageWidth - kMargin, kMargin - 2.5, 0.2);
        m_Y = kMargin + 2.0;
    }

    cairo_t* m_Cr;
    std::string m_Header;
    int m_Total;
    int m_Page = 0;
    double m_Y = 0;
};

// "ecg, rate 60bpm, amplitude 1mV" from a step's read-back settings.
std::string SettingsText(const Json& settings)
{
    std::string text;
    if (!settings.is_object())
        return text;
    for (const auto& [name, value] : settings.items()) {
        if (name == "playing")
            continue;
        const std::string v = value.is_string() ? value.get<std::string>() : value.dump();
        text += text.empty() ? v : ", " + name + " " + v;
    }
    if (settings.contains("playing") && settings["playing"] == false && !text.empty() && text != "off")
        text += " (not playing)";
    return text;
}

std::string FiguresText(const Json& step)
{
    std::string text = "duration " + Fixed(step.value("duration_s", 0.0), 2) + " s";
    const Json& s = step.contains("stream") ? step["stream"] : Json();
    if (!s.is_object())
        return text;
    text += ", transfers " + Str(s, "transfers") + ", late " + Str(s, "late_answers") + ", failed writes " +
            Str(s, "failed_writes");
    if (s.contains("device_underruns"))
        text += ", underruns " + Str(s, "device_underruns");
    text += ", latency p99 " + Fixed(s.value("latency_p99_ms", 0.0), 2) + " ms, max " +
            Fixed(s.value("latency_max_ms", 0.0), 2) + " ms";
    return text;
}

std::string StepName(const Json& step)
{
    const std::string name = Str(step, "name");
    return name.empty() ? Str(step, "kind") : name + " (" + Str(step, "kind") + ")";
}

// The header block: what was tested, with what, by whom, when.
void DrawHeader(Pages& p, const Json& report)
{
    const bool passed = report.value("passed", false);
    p.Down(6.0);
    p.Text("Test report: " + Str(report, "scenario"), kMargin, p.y(), kTitleFont, true);
    const std::string result = passed ? "PASSED" : "FAILED";
    p.Text(result, kPageWidth - kMargin - p.Width(result, kTitleFont, true), p.y(), kTitleFont, true,
           passed ? kPass : kFail);
    p.Down(4.0);
    std::vector<std::pair<std::string, std::string>> fields = {
        {"Date and time (UTC)", Str(report, "date", "not recorded")},
        {"Host", Str(report, "host", "not recorded")},
        {"Operator", Str(report, "operator", "")},
        {"Device under test", Str(report, "device_under_test", "")},
    };
    const Json simulator = report.contains("simulator") ? report["simulator"] : Json::object();
    fields.emplace_back("Simulator", Str(simulator, "kind", Str(report, "device")) + ", identity " +
                                         Str(simulator, "identity", "not recorded"));
    fields.emplace_back("Serial number", Str(simulator, "serial_number", Str(report, "serial_number")));
    fields.emplace_back("Hardware information", Str(simulator, "hardware_information", "not recorded"));
    fields.emplace_back("Library", Str(report, "hsim_version", "not recorded"));
    if (report.contains("tables") && report["tables"].is_object())
        for (const auto& [table, source] : report["tables"].items())
            fields.emplace_back("Table " + table, source.is_string() ? source.get<std::string>() : source.dump());
    fields.emplace_back("Scenario file", Str(report, "file"));
    fields.emplace_back("Scenario SHA-256", Str(report, "file_sha256", "not recorded"));
    fields.emplace_back("Duration", Fixed(report.value("duration_s", 0.0), 1) + " s");
    for (auto& [label, value] : fields) {
        if (value.empty())
            value = "(not given)";
        const auto lines = p.Wrap(value, kFieldFont, kContentWidth - 45.0);
        p.Need(lines.size() * 4.2 + 1);
        p.Down(4.2);
        p.Text(label, kMargin, p.y(), kFieldFont, true);
        for (size_t i = 0; i < lines.size(); ++i) {
            if (i)
                p.Down(4.2);
            p.Text(lines[i], kMargin + 45.0, p.y(), kFieldFont);
        }
    }
    p.Down(5.0);
}

// The table of steps: number, step, settings, result, figures.
void DrawSteps(Pages& p, const Json& steps)
{
    const double columns[] = {kMargin, kMargin + 7, kMargin + 40, kMargin + 100, kMargin + 122, kPageWidth - kMargin};
    const char* headings[] = {"#", "Step", "Settings (read back)", "Result", "Stream figures"};
    auto headingRow = [&] {
        p.Need(12.0);
        p.Down(3.5);
        for (int c = 0; c < 5; ++c)
            p.Text(headings[c], columns[c], p.y(), kTableFont, true);
        p.Down(1.5);
        p.Line(kMargin, p.y(), kPageWidth - kMargin, p.y(), 0.3, kInk);
    };
    p.Need(20.0);
    p.Down(4.0);
    p.Text("Steps", kMargin, p.y(), kHeadingFont, true);
    p.Down(1.0);
    headingRow();
    for (const Json& step : steps) {
        const std::string status = Str(step, "status");
        std::string result = status;
        if (step.contains("error"))
            result += ": " + Str(step, "error");
        std::vector<std::string> cells[5] = {
            {Str(step, "index")},
            p.Wrap(StepName(step), kTableFont, columns[2] - columns[1] - 2),
            p.Wrap(status == "skipped" ? "" : SettingsText(step.value("settings", Json::object())), kTableFont,
                   columns[3] - columns[2] - 2),
            p.Wrap(result, kTableFont, columns[4] - columns[3] - 2, true),
            p.Wrap(status == "skipped" ? "" : FiguresText(step), kTableFont, columns[5] - columns[4]),
        };
        size_t lines = 1;
        for (const auto& cell : cells)
            lines = std::max(lines, cell.size());
        const double height = double(lines) * 3.2 + 1.5;
        if (p.y() + height > kPageHeight - kMargin - 6.0) {
            p.NewPage();
            headingRow();
        }
        const double top = p.y();
        for (int c = 0; c < 5; ++c)
            for (size_t k = 0; k < cells[c].size(); ++k)
                p.Text(cells[c][k], columns[c], top + 3.2 * double(k + 1), kTableFont, c == 3,
                       c != 3 ? kInk : status == "passed" ? kPass : status == "failed" ? kFail : kGrey);
        p.Down(height);
        p.Line(kMargin, p.y(), kPageWidth - kMargin, p.y(), 0.1);
    }
}

// Each step's strip on ECG paper at 25 mm/s and 10 mm/mV.
void DrawStrips(Pages& p, const Json& steps)
{
    bool first = true;
    for (const Json& step : steps) {
        if (!step.contains("strip") || !step["strip"].is_object())
            continue;
        const Json& strip = step["strip"];
        const double rate = strip.value("rate_hz", 0.0);
        std::vector<Trace> traces;
        std::vector<double> pacing;
        if (strip.contains("pacing_s") && strip["pacing_s"].is_array())
            for (const Json& t : strip["pacing_s"])
                if (t.is_number())
                    pacing.push_back(t.get<double>());
        if (strip.contains("signals") && strip["signals"].is_array())
            for (const Json& s : strip["signals"]) {
                Trace trace{Str(s, "name"), rate, {}, pacing};
                if (s.contains("mv") && s["mv"].is_array())
                    for (const Json& v : s["mv"])
                        trace.mv.push_back(v.is_number() ? v.get<double>() : NAN);
                traces.push_back(std::move(trace));
            }
        PaperOptions options;
        options.secondsPerRow = RowSecondsToFit(kContentWidth, options);
        const EcgPaperBlock block(traces, options);
        if (!block.Error().empty())
            continue;
        if (first) {
            p.NewPage();
            p.Down(4.0);
            p.Text("Signals played (25 mm/s, 10 mm/mV; 1 mm and 5 mm grid)", kMargin, p.y(), kHeadingFont, true);
            p.Down(2.0);
            first = false;
        }
        const std::string heading = "Step " + Str(step, "index") + ": " + StepName(step) + " - " +
                                    SettingsText(step.value("settings", Json::object()));
        const auto lines = p.Wrap(heading, kFieldFont, kContentWidth, true);
        const std::string source = Str(strip, "source");
        p.Need(lines.size() * 4.0 + 4.0 + block.RowHeight(0));
        for (const std::string& line : lines) {
            p.Down(4.0);
            p.Text(line, kMargin, p.y(), kFieldFont, true);
        }
        p.Down(3.5);
        p.Text(source, kMargin, p.y(), 2.5, false, kGrey);
        p.Down(1.5);
        for (size_t row = 0; row < block.Rows(); ++row) {
            p.Need(block.RowHeight(row));
            block.DrawRows(p.cr(), kMargin, p.y(), row, 1);
            p.Down(block.RowHeight(row));
        }
        p.Down(2.0);
    }
}

// Draws the report on a PDF surface; the number of pages.
int Draw(cairo_surface_t* surface, const Json& report, int total)
{
    cairo_t* cr = cairo_create(surface);
    int pages = 0;
    {
        Pages p(cr, Str(report, "scenario") + ", " + Str(report, "date", "undated"), total);
        DrawHeader(p, report);
        if (report.contains("steps") && report["steps"].is_array()) {
            DrawSteps(p, report["steps"]);
            DrawStrips(p, report["steps"]);
        }
        p.Finish();
        pages = p.Count();
    }
    const bool ok = cairo_status(cr) == CAIRO_STATUS_SUCCESS;
    cairo_destroy(cr);
    return ok ? pages : -1;
}

cairo_status_t Discard(void*, const unsigned char*, unsigned int) { return CAIRO_STATUS_SUCCESS; }

}  // namespace

int RunReport(const ReportOptions& options)
{
    if (FileExtension(options.output) != ".pdf") {
        std::fprintf(stderr, "hsimctl: the report is written as a .pdf\n");
        return kExitUsage;
    }
    Json report;
    try {
        std::ifstream in(options.input);
        report = Json::parse(in);
    } catch (const Json::exception& e) {
        std::fprintf(stderr, "hsimctl: %s is not a JSON report: %s\n", options.input.c_str(), e.what());
        return kExitUsage;
    }
    if (!report.is_object() || !report.contains("steps")) {
        std::fprintf(stderr, "hsimctl: %s is not a scenario's report (no steps)\n", options.input.c_str());
        return kExitUsage;
    }
    // Once to count the pages, once to write them.
    std::unique_ptr<cairo_surface_t, void (*)(cairo_surface_t*)> counting(
        cairo_pdf_surface_create_for_stream(Discard, nullptr, kPageWidth * kPointsPerMm, kPageHeight * kPointsPerMm),
        cairo_surface_destroy);
    const int total = Draw(counting.get(), report, 0);
    std::unique_ptr<cairo_surface_t, void (*)(cairo_surface_t*)> surface(
        cairo_pdf_surface_create(options.output.c_str(), kPageWidth * kPointsPerMm, kPageHeight * kPointsPerMm),
        cairo_surface_destroy);
    const int pages = total > 0 ? Draw(surface.get(), report, total) : -1;
    cairo_surface_finish(surface.get());
    if (pages < 0 || cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS) {
        std::fprintf(stderr, "hsimctl: cannot write %s: %s\n", options.output.c_str(),
                     cairo_status_to_string(cairo_surface_status(surface.get())));
        return kExitFailed;
    }
    std::printf("report of %s: %d A4 page(s) in %s\n", Str(report, "scenario").c_str(), pages,
                options.output.c_str());
    return kExitOk;
}

}  // namespace hsimctl
