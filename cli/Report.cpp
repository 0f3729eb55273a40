// `hsimctl report`: a scenario's JSON report printed as A4 pages (PDF): the
// header with what was tested, with what, by whom and when; a table of the
// steps with their settings as read back, their result and stream figures;
// and the strip of each step that played or recorded a signal, on ECG paper
// at true scale (25 mm/s, 10 mm/mV). Every page carries the scenario's name,
// its date and "page n of N".
//
// The report of a run of test procedures is a test record: the header with
// the table of requirements and their results and the run's result, then
// each procedure on pages of its own: what it tests and after which
// sources, its steps, the readings of the device under test with the limits
// they were judged against, the stimulus as measured against what the
// procedure asks for, and the strips of what was played.
#include "Commands.h"

#include "EcgPaper.h"

#include <cairo-pdf.h>
#include <cairo.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
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
constexpr size_t kMaxCellLines = 24;  // a longer cell is cut, so a row always fits on a page

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

// A measured figure with the digits it carries, up to four: 31, 60.12, 1.003.
std::string Figure(const Json& v)
{
    if (!v.is_number())
        return v.is_string() ? v.get<std::string>() : v.dump();
    char text[48];
    std::snprintf(text, sizeof text, "%.4g", v.get<double>());
    return text;
}

std::string Upper(std::string text)
{
    for (char& c : text)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

// Green for what passed, red for what failed (a stimulus fault too), grey
// for the rest (skipped, not judged).
Colour ResultColour(const std::string& result)
{
    if (result == "passed" || result == "pass")
        return kPass;
    if (result == "failed" || result == "fail" || result == "stimulus fault")
        return kFail;
    return kGrey;
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
    // `text` as it is if it fits in `width` mm, else cut with an ellipsis.
    std::string Fit(const std::string& text, double size, double width, bool bold = false) const
    {
        std::string cut = ValidUtf8(text);
        if (Width(cut, size, bold) <= width)
            return cut;
        while (!cut.empty() && Width(cut + "\u2026", size, bold) > width) {
            while (!cut.empty() && (static_cast<unsigned char>(cut.back()) & 0xC0) == 0x80)
                cut.pop_back();  // the continuation bytes of the last character
            if (!cut.empty())
                cut.pop_back();
        }
        return cut + "\u2026";
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
        const double pageWidth = Width(page, 2.8);
        Text(Fit(m_Header, 2.8, kContentWidth - pageWidth - 5.0), kMargin, kMargin - 4.0, 2.8, false, kGrey);
        Text(page, kPageWidth - kMargin - pageWidth, kMargin - 4.0, 2.8, false, kGrey);
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

bool HasProcedures(const Json& report)
{
    return report.contains("procedures") && report["procedures"].is_array();
}

const Json& Member(const Json& j, const char* key)
{
    static const Json none;
    return j.is_object() && j.contains(key) ? j[key] : none;
}

// What the report is of: the scenario's name, the procedure's, or how many
// procedures ran (the summary names them).
std::string Title(const Json& report)
{
    if (!HasProcedures(report) || report.contains("scenario"))
        return Str(report, "scenario");
    const Json& procedures = report["procedures"];
    if (procedures.size() == 1)
        return Str(procedures[0], "name", Str(procedures[0], "file"));
    return std::to_string(procedures.size()) + " test procedures";
}

// The run's result: the worst of its procedures' (a stimulus fault, a fail, a
// reading not judged), else what the run says.
std::string RunResult(const Json& report)
{
    for (const char* worst : {"stimulus fault", "fail", "not judged"})
        for (const Json& procedure : report["procedures"])
            if (Str(procedure, "result") == worst)
                return worst;
    return Member(report, "passed") == true ? "pass" : "fail";
}

// A title line in large type with a result at its right end.
void TitleLine(Pages& p, const std::string& title, const std::string& result, Colour colour)
{
    p.Down(6.0);
    const double resultWidth = p.Width(result, kTitleFont, true);
    p.Text(p.Fit(title, kTitleFont, kContentWidth - resultWidth - 5.0, true), kMargin, p.y(), kTitleFont, true);
    p.Text(result, kPageWidth - kMargin - resultWidth, p.y(), kTitleFont, true, colour);
    p.Down(4.0);
}

// Label and value lines; a long value wraps under its label.
void DrawFields(Pages& p, std::vector<std::pair<std::string, std::string>> fields)
{
    for (auto& [label, value] : fields) {
        if (value.empty())
            value = "(not given)";
        const auto lines = p.Wrap(value, kFieldFont, kContentWidth - 45.0);
        p.Need(lines.size() * 4.2 + 1);
        p.Down(4.2);
        p.Text(p.Fit(label, kFieldFont, 43.0, true), kMargin, p.y(), kFieldFont, true);
        for (size_t i = 0; i < lines.size(); ++i) {
            if (i) {
                p.Need(4.2);  // a value longer than a page goes on on the next
                p.Down(4.2);
            }
            p.Text(lines[i], kMargin + 45.0, p.y(), kFieldFont);
        }
    }
}

// The header block: what was tested, with what, by whom, when.
void DrawHeader(Pages& p, const Json& report)
{
    const bool procedures = HasProcedures(report);
    if (procedures) {
        const std::string result = RunResult(report);
        TitleLine(p, "Test report: " + Title(report), Upper(result), ResultColour(result));
    } else {
        const bool passed = report.value("passed", false);
        TitleLine(p, "Test report: " + Str(report, "scenario"), passed ? "PASSED" : "FAILED", passed ? kPass : kFail);
    }
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
    if (!procedures) {  // a procedure's file is named with the procedure
        fields.emplace_back("Scenario file", Str(report, "file"));
        fields.emplace_back("Scenario SHA-256", Str(report, "file_sha256", "not recorded"));
    }
    if (!procedures)
        fields.emplace_back("Duration", Fixed(report.value("duration_s", 0.0), 1) + " s");
    else
        fields.emplace_back("Readings from", Str(report, "reading_source", "not recorded") +
                                                 (Member(report, "dry_run") == true ? " (dry run)" : ""));
    DrawFields(p, fields);
    p.Down(5.0);
}

struct Cell {
    std::string text;
    bool bold = false;
    Colour colour = kInk;
};

// A section's heading, kept on the page with what follows.
void Heading(Pages& p, const std::string& text)
{
    p.Need(20.0);
    p.Down(4.0);
    p.Text(p.Fit(text, kHeadingFont, kContentWidth, true), kMargin, p.y(), kHeadingFont, true);
    p.Down(1.0);
}

// A table that breaks across pages with its headings on each. `edges`: the
// columns' left ends, then the right end of the last. A cell's text wraps in
// its column; one that would not fit on a page is cut.
void DrawTable(Pages& p, const std::vector<double>& edges, const std::vector<std::string>& headings,
               const std::vector<std::vector<Cell>>& rows)
{
    const size_t n = headings.size();
    auto headingRow = [&] {
        p.Need(12.0);
        p.Down(3.5);
        for (size_t c = 0; c < n; ++c)
            p.Text(headings[c], edges[c], p.y(), kTableFont, true);
        p.Down(1.5);
        p.Line(kMargin, p.y(), kPageWidth - kMargin, p.y(), 0.3, kInk);
    };
    headingRow();
    for (const auto& row : rows) {
        std::vector<std::vector<std::string>> cells(n);
        size_t lines = 1;
        for (size_t c = 0; c < n; ++c) {
            const double width = edges[c + 1] - edges[c] - (c + 1 < n ? 2.0 : 0.0);
            cells[c] = p.Wrap(row[c].text, kTableFont, width, row[c].bold);
            if (cells[c].size() > kMaxCellLines) {
                cells[c].resize(kMaxCellLines);
                cells[c].back() = p.Fit(cells[c].back() + " \u2026", kTableFont, width, row[c].bold);
            }
            lines = std::max(lines, cells[c].size());
        }
        const double height = double(lines) * 3.2 + 1.5;
        if (p.y() + height > kPageHeight - kMargin - 6.0) {
            p.NewPage();
            headingRow();
        }
        const double top = p.y();
        for (size_t c = 0; c < n; ++c)
            for (size_t k = 0; k < cells[c].size(); ++k)
                p.Text(cells[c][k], edges[c], top + 3.2 * double(k + 1), kTableFont, row[c].bold, row[c].colour);
        p.Down(height);
        p.Line(kMargin, p.y(), kPageWidth - kMargin, p.y(), 0.1);
    }
}

// The table of steps: number, step, settings, result, figures.
void DrawSteps(Pages& p, const Json& steps)
{
    std::vector<std::vector<Cell>> rows;
    for (const Json& step : steps) {
        const std::string status = Str(step, "status");
        std::string result = status;
        if (step.contains("error"))
            result += ": " + Str(step, "error");
        const bool skipped = status == "skipped";
        rows.push_back({{Str(step, "index")},
                        {StepName(step)},
                        {skipped ? "" : SettingsText(step.value("settings", Json::object()))},
                        {result, true, ResultColour(status)},
                        {skipped ? "" : FiguresText(step)}});
    }
    Heading(p, "Steps");
    DrawTable(p, {kMargin, kMargin + 7, kMargin + 40, kMargin + 100, kMargin + 122, kPageWidth - kMargin},
              {"#", "Step", "Settings (read back)", "Result", "Stream figures"}, rows);
}

// Each step's strip on ECG paper at 25 mm/s and 10 mm/mV; the first on a
// page of its own, or (`ownPage` false) after what is on the page.
void DrawStrips(Pages& p, const Json& steps, bool ownPage)
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
        const std::string heading = "Step " + Str(step, "index") + ": " + StepName(step) + " - " +
                                    SettingsText(step.value("settings", Json::object()));
        const auto lines = p.Wrap(heading, kFieldFont, kContentWidth, true);
        const double stripTop = lines.size() * 4.0 + 4.0 + block.RowHeight(0);
        if (first) {
            if (ownPage) {
                p.NewPage();
            } else {
                p.Down(3.0);
                p.Need(8.0 + stripTop);
            }
            p.Down(4.0);
            p.Text("Signals played (25 mm/s, 10 mm/mV; 1 mm and 5 mm grid)", kMargin, p.y(), kHeadingFont, true);
            p.Down(2.0);
            first = false;
        }
        const std::string source = Str(strip, "source");
        p.Need(stripTop);
        for (const std::string& line : lines) {
            p.Down(4.0);
            p.Text(line, kMargin, p.y(), kFieldFont, true);
        }
        p.Down(3.5);
        p.Text(p.Fit(source, 2.5, kContentWidth), kMargin, p.y(), 2.5, false, kGrey);
        p.Down(1.5);
        for (size_t row = 0; row < block.Rows(); ++row) {
            p.Need(block.RowHeight(row));
            block.DrawRows(p.cr(), kMargin, p.y(), row, 1);
            p.Down(block.RowHeight(row));
        }
        p.Down(2.0);
    }
}

// The requirements and their results, one row a procedure, and the run's
// result under them.
void DrawSummary(Pages& p, const Json& report)
{
    const Json& procedures = report["procedures"];
    std::vector<std::vector<Cell>> rows;
    for (const Json& entry : Member(report, "summary")) {
        std::string standard = Str(entry, "standard");
        for (const Json& procedure : procedures)
            if (standard.empty() && Str(procedure, "name") == Str(entry, "procedure"))
                standard = Str(procedure, "standard");
        const std::string result = Str(entry, "result");
        rows.push_back({{Str(entry, "procedure")},
                        {standard},
                        {Str(entry, "requirement")},
                        {Str(entry, "pass")},
                        {Str(entry, "fail")},
                        {Str(entry, "not_judged")},
                        {result, true, ResultColour(result)}});
    }
    Heading(p, "Requirements and results");
    DrawTable(p,
              {kMargin, kMargin + 40, kMargin + 78, kMargin + 120, kMargin + 130, kMargin + 140, kMargin + 157,
               kPageWidth - kMargin},
              {"Procedure", "Standard", "Requirement", "Pass", "Fail", "Not judged", "Result"}, rows);
    const std::string result = RunResult(report);
    p.Need(8.0);
    p.Down(6.0);
    p.Text("Result of the run:", kMargin, p.y(), kFieldFont, true);
    p.Text(result, kMargin + 45.0, p.y(), kFieldFont, true, ResultColour(result));
}

// "27 to 33 bpm (limits: physionet-ec13)"
std::string RangeText(const Json& reading)
{
    const Json& from = Member(reading, "from");
    const Json& to = Member(reading, "to");
    std::string range;
    if (from.is_number() && to.is_number())
        range = Figure(from) + " to " + Figure(to);
    else if (from.is_number())
        range = "from " + Figure(from);
    else if (to.is_number())
        range = "up to " + Figure(to);
    else
        return "no limits";
    const std::string unit = Str(reading, "unit");
    return range + (unit.empty() ? "" : " " + unit) + " (limits: " + Str(reading, "limits_source", "not given") + ")";
}

// The readings of the device under test, one row a measure step.
void DrawReadings(Pages& p, const Json& steps)
{
    std::vector<std::vector<Cell>> rows;
    for (const Json& step : steps) {
        const Json& reading = Member(step, "reading");
        if (!reading.is_object())
            continue;
        const Json& value = Member(reading, "value");
        const std::string unit = Str(reading, "unit");
        const std::string verdict = Str(reading, "verdict", "not judged");
        const std::string reason = Str(reading, "reason");
        rows.push_back({{Str(step, "index")},
                        {Str(reading, "id") + ": " + Str(reading, "quantity")},
                        {value.is_number() ? Figure(value) + (unit.empty() ? "" : " " + unit) : "no reading"},
                        {RangeText(reading)},
                        {Str(reading, "source")},
                        {reason.empty() ? verdict : verdict + ": " + reason, true, ResultColour(verdict)}});
    }
    if (rows.empty())
        return;
    p.Down(3.0);
    Heading(p, "Readings of the device under test");
    DrawTable(p, {kMargin, kMargin + 7, kMargin + 40, kMargin + 62, kMargin + 104, kMargin + 122, kPageWidth - kMargin},
              {"#", "Measure", "Reading", "Accepted range", "Read by", "Verdict"}, rows);
}

// "qrs_amplitude_mv" -> {"qrs amplitude", "mV"}
std::pair<std::string, std::string> QuantityOf(const std::string& key)
{
    static const std::pair<const char*, const char*> units[] = {
        {"_bpm", "bpm"}, {"_mv", "mV"}, {"_ms", "ms"}, {"_hz", "Hz"}, {"_s", "s"}};
    std::string name = key, unit;
    for (const auto& [suffix, symbol] : units)
        if (name.size() > std::strlen(suffix) && name.ends_with(suffix)) {
            name.resize(name.size() - std::strlen(suffix));
            unit = symbol;
            break;
        }
    for (char& c : name)
        if (c == '_' || c == '-')
            c = ' ';
    return {name, unit};
}

// The stimulus a verify step measured against what the procedure asks for:
// each figure (rate_bpm, qrs_amplitude_mv, ...; beats and pulses counted)
// with its expected value and tolerance (a fraction) under the same key.
void DrawStimulus(Pages& p, const Json& steps)
{
    std::vector<std::vector<Cell>> rows;
    for (const Json& step : steps) {
        const Json& stimulus = Member(step, "stimulus");
        if (!stimulus.is_object())
            continue;
        const Json& expected = Member(stimulus, "expected");
        const bool ok = Member(stimulus, "ok") == true;
        std::string verdict = ok ? "as specified" : "not as specified";
        if (stimulus.contains("measured_from"))
            verdict += ", measured from " + Str(stimulus, "measured_from");
        const size_t first = rows.size();
        for (const auto& [key, value] : stimulus.items()) {
            if (key == "expected" || key == "ok" || key == "measured_from")
                continue;
            const auto [name, unit] = QuantityOf(key);
            const std::string withUnit = unit.empty() ? "" : " " + unit;
            std::string wanted;
            if (const Json& target = Member(expected, key.c_str()); target.is_object()) {
                wanted = Figure(Member(target, "value")) + withUnit;
                if (const Json& tolerance = Member(target, "tolerance"); tolerance.is_number())
                    wanted += " \u00b1 " + Figure(tolerance.get<double>() * 100) + " %";
            }
            // The step's number on each of its rows, so that a row on the
            // next page still says whose it is.
            rows.push_back({{Str(step, "index")},
                            {name},
                            {value.is_number() ? Figure(value) + withUnit : "none found"},
                            {wanted},
                            {rows.size() == first ? verdict : "", true, ok ? kPass : kFail}});
        }
    }
    if (rows.empty())
        return;
    p.Down(3.0);
    Heading(p, "Stimulus measured");
    DrawTable(p, {kMargin, kMargin + 7, kMargin + 50, kMargin + 85, kMargin + 135, kPageWidth - kMargin},
              {"#", "Quantity", "Measured", "Expected", "Stimulus"}, rows);
}

// A procedure on pages of its own: what it tests after which sources, its
// steps, readings, stimulus figures and strips.
void DrawProcedure(Pages& p, const Json& procedure, size_t number)
{
    p.NewPage();
    const std::string result = Str(procedure, "result", "not given");
    TitleLine(p, "Procedure " + std::to_string(number) + ": " + Str(procedure, "name"), Upper(result),
              ResultColour(result));
    std::vector<std::pair<std::string, std::string>> fields = {
        {"Standard", Str(procedure, "standard")},
        {"Requirement", Str(procedure, "requirement")},
        {"Procedure file", Str(procedure, "file")},
        {"File SHA-256", Str(procedure, "file_sha256", "not recorded")},
        {"Duration", Member(procedure, "duration_s").is_number()
                         ? Fixed(procedure["duration_s"].get<double>(), 1) + " s" : "not recorded"},
    };
    const Json& sources = Member(procedure, "sources");
    for (const Json& source : sources)
        fields.emplace_back(fields.size() == 5 ? "Sources" : "",
                            "[" + Str(source, "id") + "] " + Str(source, "cite") + ", " + Str(source, "url"));
    if (!sources.is_array() || sources.empty())
        fields.emplace_back("Sources", "none given");
    const std::string notes = Str(procedure, "notes");
    fields.emplace_back("Notes", notes.empty() ? "none" : notes);
    DrawFields(p, fields);
    p.Down(3.0);

    const Json& steps = Member(procedure, "steps");
    std::vector<std::vector<Cell>> rows;
    for (const Json& step : steps) {
        const std::string status = Str(step, "status");
        std::string text = status;
        for (const char* detail : {"error", "note"})
            if (step.contains(detail))
                text += ": " + Str(step, detail);
        const Json& reading = Member(step, "reading");
        const std::string name =
            step.contains("name") || !reading.is_object() ? Str(step, "name")
                                                          : Str(reading, "id") + ": " + Str(reading, "quantity");
        rows.push_back({{Str(step, "index")}, {Str(step, "kind")}, {name}, {text, true, ResultColour(status)}});
    }
    Heading(p, "Steps");
    DrawTable(p, {kMargin, kMargin + 7, kMargin + 27, kMargin + 112, kPageWidth - kMargin},
              {"#", "Kind", "Name", "Status"}, rows);
    DrawReadings(p, steps);
    DrawStimulus(p, steps);
    if (steps.is_array())
        DrawStrips(p, steps, false);
}

// Draws the report on a PDF surface; the number of pages.
int Draw(cairo_surface_t* surface, const Json& report, int total)
{
    // Freed however the drawing ends (a field of the wrong kind throws).
    const std::unique_ptr<cairo_t, void (*)(cairo_t*)> context(cairo_create(surface), cairo_destroy);
    cairo_t* cr = context.get();
    int pages = 0;
    {
        Pages p(cr, Title(report) + ", " + Str(report, "date", "undated"), total);
        DrawHeader(p, report);
        if (HasProcedures(report)) {
            DrawSummary(p, report);
            size_t number = 0;
            for (const Json& procedure : report["procedures"])
                DrawProcedure(p, procedure, ++number);
        } else if (report.contains("steps") && report["steps"].is_array()) {
            DrawSteps(p, report["steps"]);
            DrawStrips(p, report["steps"], true);
        }
        p.Finish();
        pages = p.Count();
    }
    return cairo_status(cr) == CAIRO_STATUS_SUCCESS ? pages : -1;
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
    if (!report.is_object() || !(report.contains("steps") || HasProcedures(report))) {
        std::fprintf(stderr, "hsimctl: %s is not a scenario's report (no steps, no procedures)\n", options.input.c_str());
        return kExitUsage;
    }
    // Once to count the pages, once to write them.
    std::unique_ptr<cairo_surface_t, void (*)(cairo_surface_t*)> counting(
        cairo_pdf_surface_create_for_stream(Discard, nullptr, kPageWidth * kPointsPerMm, kPageHeight * kPointsPerMm),
        cairo_surface_destroy);
    // A field of the wrong kind (a text where a number belongs) is found by
    // the counting pass, before anything is written.
    int total = 0;
    try {
        total = Draw(counting.get(), report, 0);
    } catch (const Json::exception& e) {
        std::fprintf(stderr, "hsimctl: %s is not a report this program wrote: %s\n", options.input.c_str(), e.what());
        return kExitUsage;
    }
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
    std::printf("report of %s: %d A4 page(s) in %s\n", Title(report).c_str(), pages,
                options.output.c_str());
    return kExitOk;
}

}  // namespace hsimctl
