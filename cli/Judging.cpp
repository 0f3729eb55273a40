#include "Judging.h"

#include "Session.h"

#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace hsimctl {
namespace {

using Json = nlohmann::ordered_json;

// A line from the operator; nothing at the end of the input or when
// interrupted.
std::optional<std::string> AskOperator(const std::string& question)
{
    std::fprintf(stderr, "%s ", question.c_str());
    std::fflush(stderr);
    std::string line;
    if (Interrupted() || !std::getline(std::cin, line))
        return std::nullopt;
    return line;
}

// Runs the rig's command with the reading's names in its environment and
// gives the first line it prints; false with the reason when it fails, takes
// longer than a minute or prints nothing.
bool RunReader(const std::string& command, const std::string& procedure, const MeasureRequest& request, std::string& line,
               std::string& why)
{
    // Everything the child needs is made before the fork: between fork and
    // exec only async-signal-safe calls (other threads may hold the heap).
    std::vector<std::string> variables = {"HSIM_PROCEDURE=" + procedure, "HSIM_MEASURE=" + request.id,
                                          "HSIM_QUANTITY=" + request.quantity, "HSIM_UNIT=" + request.unit};
    for (char** e = environ; *e; ++e)
        if (std::strncmp(*e, "HSIM_PROCEDURE=", 15) && std::strncmp(*e, "HSIM_MEASURE=", 13) &&
            std::strncmp(*e, "HSIM_QUANTITY=", 14) && std::strncmp(*e, "HSIM_UNIT=", 10))
            variables.emplace_back(*e);
    std::vector<char*> envp;
    for (std::string& v : variables)
        envp.push_back(v.data());
    envp.push_back(nullptr);
    std::string shell = "/bin/sh", dashC = "-c", text0 = command;
    char* argv[] = {shell.data(), dashC.data(), text0.data(), nullptr};
    int out[2];
    if (pipe(out) != 0)
        return why = std::string("cannot run the reader: ") + std::strerror(errno), false;
    const pid_t pid = fork();
    if (pid < 0) {
        close(out[0]);
        close(out[1]);
        return why = std::string("cannot run the reader: ") + std::strerror(errno), false;
    }
    if (pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        close(out[0]);
        close(out[1]);
        execve(argv[0], argv, envp.data());
        _exit(127);
    }
    close(out[1]);
    std::string text;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    bool timedOut = false;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || Interrupted()) {
            timedOut = true;
            break;
        }
        pollfd p{out[0], POLLIN, 0};
        if (poll(&p, 1, int(std::min<long long>(left.count(), 200))) <= 0)
            continue;
        char buffer[512];
        const ssize_t n = read(out[0], buffer, sizeof buffer);
        if (n <= 0)
            break;
        if (text.size() < 4096)
            text.append(buffer, size_t(n));
    }
    close(out[0]);
    if (timedOut)
        kill(pid, SIGKILL);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (timedOut)
        return why = Interrupted() ? "interrupted" : "the reader gave no answer within 60 s", false;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return why = WIFEXITED(status) ? "the reader failed (exit code " + std::to_string(WEXITSTATUS(status)) + ")"
                                       : "the reader was ended by signal " + std::to_string(WTERMSIG(status)),
               false;
    line = text.substr(0, text.find('\n'));
    return true;
}

std::string Shown(double v)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", v);
    return text;
}

}  // namespace

std::optional<double> ReadingNumber(const std::string& text)
{
    const char* begin = text.c_str();
    char* end = nullptr;
    errno = 0;
    const double v = std::strtod(begin, &end);
    if (end == begin || errno != 0 || !std::isfinite(v))
        return std::nullopt;
    // After the number only blanks, or a unit made of letters, "/" and "%".
    for (const char* c = end; *c; ++c)
        if (!(std::isspace(static_cast<unsigned char>(*c)) || std::isalpha(static_cast<unsigned char>(*c)) ||
              *c == '/' || *c == '%'))
            return std::nullopt;
    return v;
}

Json TakeReading(const MeasureRequest& request, const JudgingOptions& options)
{
    Json r;
    r["id"] = request.id;
    r["quantity"] = request.quantity;
    r["unit"] = request.unit;
    r["value"] = nullptr;
    r["from"] = request.from ? Json(*request.from) : Json(nullptr);
    r["to"] = request.to ? Json(*request.to) : Json(nullptr);
    r["limits_source"] = request.askLimits ? "operator" : request.limitsSource;
    std::string reason;
    std::optional<double> value, from = request.from, to = request.to;
    const std::string unit = request.unit.empty() ? "" : " " + request.unit;
    const YAML::Node answer = options.dryRun() && options.answers[options.procedure]
                                  ? options.answers[options.procedure][request.id]
                                  : YAML::Node();
    // The reading.
    if (options.dryRun()) {
        r["source"] = "answers";
        const YAML::Node v = answer && answer.IsMap() ? answer["value"] : answer;
        if (!v || !v.IsScalar())
            reason = "no reading: the answers have none for " + options.procedure + "/" + request.id;
        else if (!(value = ReadingNumber(v.as<std::string>())))
            reason = "the answer '" + v.as<std::string>() + "' is not a number";
    } else if (!options.reader.empty()) {
        r["source"] = "command";
        std::string line;
        if (!RunReader(options.reader, options.procedure, request, line, reason)) {
            // reason says why
        } else if (!(value = ReadingNumber(line))) {
            reason = "the reader printed '" + line.substr(0, 80) + "', not a number";
        }
    } else if (!options.askOperator) {
        r["source"] = "operator";
        reason = "no reading: no operator at a terminal to ask (run it with hsimctl run)";
    } else {
        r["source"] = "operator";
        const auto text = AskOperator((request.prompt.empty() ? request.quantity : request.prompt) + unit +
                                      " (empty: no reading):");
        if (!text || text->find_first_not_of(" \t") == std::string::npos)
            reason = "no reading given";
        else if (!(value = ReadingNumber(*text)))
            reason = "'" + text->substr(0, 80) + "' is not a number";
    }
    // The limits the operator takes from the standard, asked after the
    // reading so that they cannot lead it.
    if (request.askLimits) {
        if (options.dryRun()) {
            r["limits_source"] = "answers";
            if (answer && answer.IsMap() && answer["from"] && answer["to"]) {
                from = ReadingNumber(answer["from"].as<std::string>());
                to = ReadingNumber(answer["to"].as<std::string>());
            }
        } else if (!options.askOperator) {
        } else if (const auto text = AskOperator("Accepted range of the " + request.quantity + unit +
                                                 ", from your copy of the standard (FROM..TO; empty: none):")) {
            const size_t dots = text->find("..");
            if (dots != std::string::npos) {
                from = ReadingNumber(text->substr(0, dots));
                to = ReadingNumber(text->substr(dots + 2));
            }
        }
        if (!from || !to || *from > *to)
            from.reset(), to.reset();
        r["from"] = from ? Json(*from) : Json(nullptr);
        r["to"] = to ? Json(*to) : Json(nullptr);
    }
    if (value)
        r["value"] = *value;
    std::string verdict = "not judged";
    if (!value) {
        if (reason.empty())
            reason = "no reading";
    } else if (!from || !to) {
        reason = "no accepted range: the operator gave none";
    } else {
        verdict = *value >= *from && *value <= *to ? "pass" : "fail";
        reason = "";
    }
    r["verdict"] = verdict;
    r["reason"] = reason;
    // The expected range is shown to the operator only now.
    if (r["source"] == "operator" || r["limits_source"] == "operator")
        std::fprintf(stderr, "  %s: %s (accepted %s..%s%s)\n", request.quantity.c_str(), verdict.c_str(),
                     from ? Shown(*from).c_str() : "?", to ? Shown(*to).c_str() : "?", unit.c_str());
    return r;
}

std::string PauseForOperator(const std::string& text, const JudgingOptions& options)
{
    std::fprintf(stderr, "\n%s\n", text.c_str());
    if (options.dryRun())
        return "not waited (dry run)";
    if (!options.askOperator)
        return "not waited (no operator at a terminal)";
    if (!isatty(STDIN_FILENO))
        return "not waited (no terminal)";
    if (!AskOperator("Press Enter to go on."))
        return "interrupted";
    return "the operator went on";
}

}  // namespace hsimctl
