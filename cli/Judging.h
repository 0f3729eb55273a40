// Judging the device under test: a reading of what it shows, got from the
// operator, from a command of the test rig, or from a file of answers (a dry
// run), against the accepted range that the procedure states or that the
// operator enters from their copy of the standard.
#pragma once

#include <nlohmann/json.hpp>
#include <yaml-cpp/yaml.h>

#include <optional>
#include <string>

namespace hsimctl {

struct MeasureRequest {
    std::string id;        // unique in its procedure
    std::string quantity;  // "heart rate"
    std::string unit;      // "bpm"
    std::string prompt;    // what the operator is asked
    // The accepted range, both ends included, and the id of the source that
    // gives it; ask: the operator enters it.
    std::optional<double> from, to;
    bool askLimits = false;
    std::string limitsSource;
};

struct JudgingOptions {
    std::string procedure;  // the procedure's file stem
    std::string reader;     // a command that prints the reading; empty: none
    YAML::Node answers;     // {procedure: {id: value | {value, from, to}}}; null: none
    bool askOperator = true;  // false: no one at a terminal (the front panel) to ask
    bool dryRun() const { return answers.IsDefined() && !answers.IsNull(); }
};

// Gets the reading and judges it: {"id", "quantity", "unit", "value" (null
// when there is none), "from", "to" (null when unknown), "source"
// (operator, command, answers), "limits_source", "verdict" (pass, fail, not
// judged), "reason"}. Never a pass without a reading inside known limits.
nlohmann::ordered_json TakeReading(const MeasureRequest& request, const JudgingOptions& options);

// Shows the operator what to do and waits for Enter (on a terminal, and not
// in a dry run); what happened, for the report.
std::string PauseForOperator(const std::string& text, const JudgingOptions& options);

// A number from text as a reading ("72", " 72.5 bpm" with its unit after);
// nothing for anything else.
std::optional<double> ReadingNumber(const std::string& text);

}  // namespace hsimctl
