// Child processes of the soak programs: the emulator run as a program of its
// own (hsim-emu, driven through its standard input), and processes that only
// spin on the CPU at ordinary priority, as a build and its tests would. Both
// die with the program that started them, whatever way it ends.
#pragma once

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <poll.h>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace soak {

using Clock = std::chrono::steady_clock;

// Runs in a child just after fork: it dies with its parent.
inline bool DieWithParent(pid_t parent)
{
    return prctl(PR_SET_PDEATHSIG, SIGKILL) == 0 && getppid() == parent;
}

inline void KillAndReap(pid_t& pid)
{
    if (pid > 0) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    pid = -1;
}

// The emulator program: commands go to its standard input, and each answers
// with one line on its standard output (status with several, the last
// starting "faults:"). Its standard input is a pipe, so it also ends when this
// process does, whatever way that happens.
class EmulatorProcess {
public:
    static constexpr int kCommandTimeoutMs = 5000;

    // interrupted, when given, cuts the waits for an answer short.
    explicit EmulatorProcess(const std::atomic<bool>* interrupted = nullptr) : m_Interrupted(interrupted) {}
    ~EmulatorProcess() { Stop(); }
    EmulatorProcess(const EmulatorProcess&) = delete;
    EmulatorProcess& operator=(const EmulatorProcess&) = delete;

    bool Start(const std::string& program, const std::string& dir, int port, std::string& error,
               const std::vector<std::string>& extra = {})
    {
        int in[2], out[2];
        if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) {
            error = std::string("pipe2: ") + strerror(errno);
            return false;
        }
        std::vector<std::string> args = {program, "--dir", dir, "--port", std::to_string(port)};
        args.insert(args.end(), extra.begin(), extra.end());
        std::vector<char*> argv;
        for (std::string& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        const pid_t parent = getpid();
        m_Pid = fork();
        if (m_Pid == 0) {
            if (!DieWithParent(parent) || dup2(in[0], STDIN_FILENO) < 0 || dup2(out[1], STDOUT_FILENO) < 0)
                _exit(127);
            execv(program.c_str(), argv.data());
            _exit(127);
        }
        close(in[0]);
        close(out[1]);
        m_ToChild = in[1];
        m_FromChild = out[0];
        if (m_Pid < 0) {
            error = std::string("fork: ") + strerror(errno);
            return false;
        }
        // The first line is the node it published.
        std::string line;
        if (!ReadLine(line, kCommandTimeoutMs)) {
            error = "no answer from " + program + " (is the path right?)";
            return false;
        }
        m_Node = line;
        return true;
    }

    const std::string& node() const { return m_Node; }

    // Sends one command and reads its answer line, which must start with
    // expect. The answer (or what went wrong) is left in answer.
    bool Command(const char* command, const char* expect, std::string& answer)
    {
        if (!Send(command, answer))
            return false;
        if (!ReadLine(answer, kCommandTimeoutMs)) {
            answer = "no answer to " + std::string(command);
            return false;
        }
        return answer.rfind(expect, 0) == 0;
    }

    // The counters of the status lines "stream:" and "request latency:", by
    // name ("underruns", "transfers", "over 5 ms", ...); empty when the
    // emulator did not answer.
    std::map<std::string, double> Status()
    {
        std::map<std::string, double> figures;
        std::string line;
        if (!Send("status", line))
            return figures;
        while (ReadLine(line, kCommandTimeoutMs) && line.rfind("faults:", 0) != 0) {
            const size_t colon = line.find(':');
            if (colon == std::string::npos || (line.rfind("stream", 0) != 0 && line.rfind("request latency", 0) != 0))
                continue;
            std::string rest = line.substr(colon + 1) + ",";
            for (size_t at = 0, comma; (comma = rest.find(',', at)) != std::string::npos; at = comma + 1)
                Figure(rest.substr(at, comma - at), figures);
        }
        return figures;
    }

    // Asks it to quit, then makes sure it has gone.
    void Stop()
    {
        if (m_Pid > 0) {
            static const char quit[] = "quit\n";
            ssize_t ignored = write(m_ToChild, quit, sizeof quit - 1);
            (void)ignored;
            const Clock::time_point until = Clock::now() + std::chrono::seconds(2);
            while (waitpid(m_Pid, nullptr, WNOHANG) == 0 && Clock::now() < until)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            if (waitpid(m_Pid, nullptr, WNOHANG) == 0)
                KillAndReap(m_Pid);
            m_Pid = -1;
        }
        if (m_ToChild >= 0)
            close(m_ToChild);
        if (m_FromChild >= 0)
            close(m_FromChild);
        m_ToChild = m_FromChild = -1;
    }

    pid_t pid() const { return m_Pid; }

private:
    bool Send(const char* command, std::string& error)
    {
        const std::string line = std::string(command) + "\n";
        if (write(m_ToChild, line.data(), line.size()) != ssize_t(line.size())) {
            error = std::string("cannot write to the emulator: ") + strerror(errno);
            return false;
        }
        return true;
    }

    // "name 12" or "12 name" (or "name 1.5 ms") into figures[name].
    static void Figure(const std::string& field, std::map<std::string, double>& figures)
    {
        std::vector<std::string> words;
        for (size_t at = 0; at < field.size();) {
            const size_t start = field.find_first_not_of(' ', at);
            if (start == std::string::npos)
                break;
            const size_t stop = std::min(field.find(' ', start), field.size());
            words.push_back(field.substr(start, stop - start));
            at = stop;
        }
        auto number = [](const std::string& w, double& v) {
            char* end = nullptr;
            v = strtod(w.c_str(), &end);
            return !w.empty() && end != nullptr && *end == '\0';
        };
        double v = 0;
        if (words.size() >= 2 && number(words.front(), v)) {
            std::string name;
            for (size_t i = 1; i < words.size(); ++i)
                name += (i > 1 ? " " : "") + words[i];
            figures[name] = v;
        } else if (words.size() >= 2) {
            std::string name;
            for (size_t i = 0; i < words.size(); ++i) {
                if (number(words[i], v)) {
                    figures[name] = v;
                    break;
                }
                name += (i > 0 ? " " : "") + words[i];
            }
        }
    }

    bool ReadLine(std::string& line, int timeoutMs)
    {
        const Clock::time_point until = Clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            const size_t eol = m_Pending.find('\n');
            if (eol != std::string::npos) {
                line = m_Pending.substr(0, eol);
                m_Pending.erase(0, eol + 1);
                return true;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
            if (left <= 0 || (m_Interrupted != nullptr && m_Interrupted->load()))
                return false;
            pollfd fd{m_FromChild, POLLIN, 0};
            if (poll(&fd, 1, int(std::min<long long>(left, 100))) < 0 && errno != EINTR)
                return false;
            if (fd.revents & (POLLIN | POLLHUP)) {
                char buf[512];
                const ssize_t n = read(m_FromChild, buf, sizeof buf);
                if (n <= 0 && !(n < 0 && errno == EINTR))
                    return false;  // the emulator has ended
                if (n > 0)
                    m_Pending.append(buf, size_t(n));
            }
        }
    }

    const std::atomic<bool>* m_Interrupted;
    pid_t m_Pid = -1;
    int m_ToChild = -1;
    int m_FromChild = -1;
    std::string m_Pending;
    std::string m_Node;
};

// Processes that only spin, at the ordinary priority this program has.
class Load {
public:
    ~Load() { Stop(); }

    bool Start(int count)
    {
        const pid_t parent = getpid();
        for (int i = 0; i < count; ++i) {
            const pid_t pid = fork();
            if (pid == 0) {
                if (!DieWithParent(parent))
                    _exit(0);
                volatile unsigned long spin = 0;
                for (;;)
                    spin = spin + 1;
            }
            if (pid < 0)
                return false;
            m_Pids.push_back(pid);
        }
        return true;
    }

    void Stop()
    {
        for (pid_t& pid : m_Pids)
            KillAndReap(pid);
        m_Pids.clear();
    }

private:
    std::vector<pid_t> m_Pids;
};

}  // namespace soak
