// Emulator lifecycle, worker thread and line I/O. The device's behaviour is in
// DeviceModel and StreamPlayer, the message boundaries in Framer.
#include "Emulator.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

#include "DeviceModel.h"
#include "Framer.h"
#include "PtyPort.h"

namespace hsimemu {

namespace {

constexpr std::chrono::milliseconds kQuietGap{3};
constexpr std::chrono::milliseconds kStaleFragment{100};
constexpr std::chrono::milliseconds kWriteWait{200};
constexpr int kMaxPollMs = 500;
constexpr size_t kLogCapacity = 4096;

int msUntil(Clock::time_point when, Clock::time_point now) {
    int ms = kMaxPollMs;
    if (when != Clock::time_point::max()) {
        auto left = when - now;
        if (left <= Clock::duration::zero()) {
            ms = 0;
        } else {
            // Round up so the wake-up is never before the deadline.
            auto up = std::chrono::ceil<std::chrono::milliseconds>(left).count();
            ms = static_cast<int>(std::min<int64_t>(up, kMaxPollMs));
        }
    }
    return ms;
}

}  // namespace

struct Emulator::Impl {
    explicit Impl(Options o) : options(std::move(o)), device(options.identity) {
        device.stream.setPacing(options.pacing, Clock::now());
        device.stream.setRequestThreshold(options.requestThreshold);
        lateAnswerMs = options.lateAnswerMs;
        device.romReadyPoll = std::max(1, options.romConfirmPolls);
    }

    struct Outgoing {
        std::vector<uint8_t> bytes;
        Clock::time_point due;
        bool request = false;  // a data request (timed from its write)
    };

    const Options options;

    // Everything below up to the lifecycle section is guarded by mutex.
    mutable std::mutex mutex;
    mutable std::condition_variable arrived;
    DeviceModel device;
    Framer framer{kQuietGap, kStaleFragment};
    bool mute = false;
    bool shortAnswers = false;
    bool lateAnswers = false;
    bool noStreamReports = false;
    int lateAnswerMs = 400;
    std::deque<Message> log;
    std::map<std::string, uint64_t> counts;
    uint64_t total = 0;
    uint64_t junk = 0;
    std::deque<Outgoing> outgoing;
    int hostOpens = 0;
    bool watching = false;  // host opens and closes are seen

    // Lifecycle: guarded by lifecycle; the worker only uses the descriptors.
    mutable std::mutex lifecycle;
    PtyPort port;
    std::thread worker;
    int wakeRead = -1;
    int wakeWrite = -1;
    std::atomic<bool> stopping{false};
    std::atomic<bool> isPlugged{false};
    std::string error;

    std::string nodePath() const {
        return options.directory + "/ttyACM" + std::to_string(options.port);
    }

    void wake() const {
        if (wakeWrite >= 0) {
            char c = 1;
            ssize_t n = write(wakeWrite, &c, 1);
            (void)n;  // a full pipe already wakes the worker
        }
    }

    void drainWake() const {
        char buf[64];
        while (read(wakeRead, buf, sizeof buf) > 0) {
        }
    }

    bool hostPresent() const { return !watching || hostOpens > 0; }

    // ---- lifecycle (lifecycle mutex held) ----

    bool plugLocked() {
        bool ok = false;
        int fds[2];
        if (options.directory.empty()) {
            error = "no directory given for the node";
        } else if (pipe2(fds, O_NONBLOCK | O_CLOEXEC) != 0) {
            error = "pipe2 failed";
        } else {
            wakeRead = fds[0];
            wakeWrite = fds[1];
            if (!port.open(nodePath())) {
                error = port.error();
                closeWake();
            } else {
                {
                    std::lock_guard<std::mutex> lock(mutex);
                    framer.reset();
                    outgoing.clear();
                    hostOpens = 0;
                    watching = port.watch() >= 0;
                }
                stopping = false;
                worker = std::thread([this] { run(); });
                isPlugged = true;
                error.clear();
                ok = true;
            }
        }
        return ok;
    }

    void unplugLocked() {
        if (!isPlugged) return;
        stopping = true;
        wake();
        worker.join();
        port.close();
        closeWake();
        {
            std::lock_guard<std::mutex> lock(mutex);
            device.powerCycle();
            framer.reset();
            outgoing.clear();
            hostOpens = 0;
        }
        isPlugged = false;
    }

    void closeWake() {
        if (wakeRead >= 0) close(wakeRead);
        if (wakeWrite >= 0) close(wakeWrite);
        wakeRead = wakeWrite = -1;
    }

    // ---- worker thread ----

    void run() {
        if (options.realtime) {
            sched_param param{};
            param.sched_priority = 20;
            pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
        }
        std::vector<uint8_t> rx(8192);
        std::vector<Outgoing> toSend;
        while (!stopping) {
            int timeoutMs;
            {
                std::lock_guard<std::mutex> lock(mutex);
                timeoutMs = computeTimeout(Clock::now());
            }
            pollfd fds[3] = {{wakeRead, POLLIN, 0}, {port.master(), POLLIN, 0},
                             {port.watch(), POLLIN, 0}};
            nfds_t count = port.watch() >= 0 ? 3 : 2;
            int r = poll(fds, count, timeoutMs);
            if (r < 0 && errno != EINTR) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            if (fds[0].revents & POLLIN) drainWake();
            if (stopping) break;
            // Opens and closes first: they happened before any byte that a
            // newly opened host wrote.
            if (count == 3 && (fds[2].revents & POLLIN)) hostEvents();
            if (fds[1].revents & POLLIN) {
                readInput(rx);
            } else if (fds[1].revents & (POLLHUP | POLLERR)) {
                // Cannot happen while the device holds its slave open; avoid
                // spinning if it does.
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
            {
                std::lock_guard<std::mutex> lock(mutex);
                process(Clock::now(), toSend);
            }
            for (Outgoing& out : toSend) {
                if (!writeAll(out.bytes)) break;
                if (out.request) {
                    // Nothing is read until this thread polls again, so the
                    // answer cannot be seen before the write is recorded.
                    Clock::time_point written = Clock::now();
                    std::lock_guard<std::mutex> lock(mutex);
                    device.stream.requestWritten(written);
                }
            }
            toSend.clear();
        }
    }

    int computeTimeout(Clock::time_point now) const {
        Clock::time_point when = framer.deadline();
        if (!outgoing.empty()) when = std::min(when, outgoing.front().due);
        when = std::min(when, device.stream.nextWake(now, framer.lastByteAt()));
        return msUntil(when, now);
    }

    void hostEvents() {
        bool overflow = false;
        std::vector<int> events;
        port.drainWatch(events, overflow);
        std::lock_guard<std::mutex> lock(mutex);
        for (int event : events) {
            int before = hostOpens;
            hostOpens = std::max(0, hostOpens + event);
            bool arrivedNow = event > 0 && before == 0;
            bool leftNow = event < 0 && before > 0 && hostOpens == 0;
            if (arrivedNow || leftNow) {
                // What the device sent to a closed port is lost, like the
                // data a real port discards when it is closed.
                port.discardUnread();
                outgoing.clear();
                if (arrivedNow) {
                    device.stream.hostArrived();
                } else {
                    // A message the departed host left unfinished will
                    // never be completed.
                    Frame partial;
                    if (framer.flush(partial)) logMessage(partial, Clock::now());
                    device.stream.hostGone();
                }
            }
        }
        if (overflow && hostOpens == 0) hostOpens = 1;  // count lost: assume a host
    }

    void readInput(std::vector<uint8_t>& rx) {
        for (;;) {
            ssize_t n = read(port.master(), rx.data(), rx.size());
            if (n > 0) {
                std::lock_guard<std::mutex> lock(mutex);
                framer.feed(rx.data(), static_cast<size_t>(n), Clock::now());
            } else if (n < 0 && errno == EINTR) {
                continue;
            } else {
                break;  // EAGAIN: all read
            }
        }
    }

    void process(Clock::time_point now, std::vector<Outgoing>& toSend) {
        Frame frame;
        std::vector<uint8_t> answer;
        while (framer.next(now, frame)) {
            logMessage(frame, now);
            if (frame.kind == Kind::Stream) device.stream.answerArriving(frame.firstByteAt);
            if (frame.kind != Kind::Junk) {
                device.handle(frame.kind, frame.bytes, now, answer);
                if (!answer.empty()) queueAnswer(answer, now);
            }
        }
        device.stream.advance(now);
        if (!mute && !noStreamReports && hostPresent() && framer.idle() &&
            device.stream.reportDue(now, framer.lastByteAt())) {
            auto report = device.stream.takeReport(now);
            outgoing.push_back(
                Outgoing{std::vector<uint8_t>(report.begin(), report.end()), now, true});
        }
        while (!outgoing.empty() && outgoing.front().due <= now) {
            if (hostPresent()) toSend.push_back(std::move(outgoing.front()));
            outgoing.pop_front();
        }
    }

    void queueAnswer(std::vector<uint8_t>& answer, Clock::time_point now) {
        if (mute) return;
        if (shortAnswers) answer.pop_back();
        Clock::time_point due = now;
        if (lateAnswers) due += std::chrono::milliseconds(lateAnswerMs);
        // Output leaves in order: nothing overtakes a delayed answer.
        if (!outgoing.empty()) due = std::max(due, outgoing.back().due);
        outgoing.push_back(Outgoing{answer, due});
    }

    void logMessage(const Frame& frame, Clock::time_point now) {
        std::string kind = kindName(frame.kind);
        if (frame.kind == Kind::Junk) junk += frame.bytes.size();
        ++counts[kind];
        ++total;
        log.push_back(Message{frame.bytes, std::move(kind), now});
        if (log.size() > kLogCapacity) log.pop_front();
        arrived.notify_all();
    }

    // Writes one answer or report whole; gives up (dropping the rest) when the
    // host reads nothing for a while or the emulator is unplugged.
    bool writeAll(const std::vector<uint8_t>& bytes) {
        size_t done = 0;
        Clock::time_point giveUp = Clock::now() + kWriteWait;
        bool ok = true;
        while (ok && done < bytes.size()) {
            ssize_t n = write(port.master(), bytes.data() + done, bytes.size() - done);
            if (n > 0) {
                done += static_cast<size_t>(n);
            } else if (n < 0 && errno == EINTR) {
                continue;
            } else if (n < 0 && errno == EAGAIN) {
                Clock::time_point now = Clock::now();
                if (now >= giveUp || stopping) {
                    ok = false;
                } else {
                    pollfd fds[2] = {{port.master(), POLLOUT, 0}, {wakeRead, POLLIN, 0}};
                    poll(fds, 2, msUntil(giveUp, now));
                    if (fds[1].revents & POLLIN) drainWake();
                }
            } else {
                ok = false;
            }
        }
        return ok && !stopping;
    }
};

Emulator::Emulator(Options options) : impl_(std::make_unique<Impl>(std::move(options))) {}

Emulator::~Emulator() { stop(); }

bool Emulator::start() {
    std::lock_guard<std::mutex> lock(impl_->lifecycle);
    return impl_->isPlugged || impl_->plugLocked();
}

void Emulator::stop() {
    std::lock_guard<std::mutex> lock(impl_->lifecycle);
    impl_->unplugLocked();
}

std::string Emulator::nodePath() const { return impl_->nodePath(); }

std::string Emulator::lastError() const {
    std::lock_guard<std::mutex> lock(impl_->lifecycle);
    return impl_->error;
}

void Emulator::unplug() { stop(); }

bool Emulator::replug() {
    std::lock_guard<std::mutex> lock(impl_->lifecycle);
    impl_->unplugLocked();
    return impl_->plugLocked();
}

bool Emulator::plugged() const { return impl_->isPlugged; }

void Emulator::setFault(Fault fault, bool on) {
    {
        std::lock_guard<std::mutex> lock(impl_->mutex);
        switch (fault) {
        case Fault::Mute: impl_->mute = on; break;
        case Fault::WrongMagic: impl_->device.faults.wrongMagic = on; break;
        case Fault::ShortAnswers: impl_->shortAnswers = on; break;
        case Fault::LateAnswers: impl_->lateAnswers = on; break;
        case Fault::NoStreamReports: impl_->noStreamReports = on; break;
        case Fault::CorruptChunkEcho: impl_->device.faults.corruptChunkEcho = on; break;
        case Fault::RomNeverConfirmed: impl_->device.faults.romNeverConfirmed = on; break;
        }
    }
    std::lock_guard<std::mutex> lock(impl_->lifecycle);
    impl_->wake();
}

bool Emulator::fault(Fault fault) const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    bool on = false;
    switch (fault) {
    case Fault::Mute: on = impl_->mute; break;
    case Fault::WrongMagic: on = impl_->device.faults.wrongMagic; break;
    case Fault::ShortAnswers: on = impl_->shortAnswers; break;
    case Fault::LateAnswers: on = impl_->lateAnswers; break;
    case Fault::NoStreamReports: on = impl_->noStreamReports; break;
    case Fault::CorruptChunkEcho: on = impl_->device.faults.corruptChunkEcho; break;
    case Fault::RomNeverConfirmed: on = impl_->device.faults.romNeverConfirmed; break;
    }
    return on;
}

void Emulator::setLateAnswerMs(int ms) {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->lateAnswerMs = ms < 0 ? 0 : ms;
}

void Emulator::setIdentity(const Identity& identity) {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->device.setIdentity(identity);
}

void Emulator::setPacing(Pacing pacing) {
    {
        std::lock_guard<std::mutex> lock(impl_->mutex);
        impl_->device.stream.setPacing(pacing, Clock::now());
    }
    std::lock_guard<std::mutex> lock(impl_->lifecycle);
    impl_->wake();
}

void Emulator::setRequestThreshold(size_t samples) {
    {
        std::lock_guard<std::mutex> lock(impl_->mutex);
        impl_->device.stream.setRequestThreshold(samples);
    }
    std::lock_guard<std::mutex> lock(impl_->lifecycle);
    impl_->wake();
}

std::vector<Message> Emulator::received() const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return std::vector<Message>(impl_->log.begin(), impl_->log.end());
}

std::vector<Message> Emulator::received(const std::string& kind) const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    std::vector<Message> out;
    for (const Message& m : impl_->log) {
        if (m.kind == kind) out.push_back(m);
    }
    return out;
}

void Emulator::clearReceived() {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->log.clear();
    impl_->counts.clear();
    impl_->total = 0;
}

bool Emulator::waitForMessages(size_t count, int timeoutMs, const std::string& kind) const {
    std::unique_lock<std::mutex> lock(impl_->mutex);
    auto reached = [&] {
        if (kind.empty()) return impl_->total >= count;
        auto it = impl_->counts.find(kind);
        return (it == impl_->counts.end() ? 0 : it->second) >= count;
    };
    return impl_->arrived.wait_for(lock, std::chrono::milliseconds(std::max(0, timeoutMs)), reached);
}

uint64_t Emulator::junkBytes() const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->junk;
}

std::array<uint8_t, 64> Emulator::controlBlock() const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->device.controlBlock();
}

std::array<uint8_t, 64> Emulator::infoBlock() const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->device.infoBlock();
}

std::array<uint8_t, 19> Emulator::respirationSettings() const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->device.respiration();
}

uint8_t Emulator::enableMask() const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->device.enableMask();
}

uint8_t Emulator::leadMask() const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->device.leadMask();
}

bool Emulator::calibrationMode() const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->device.calibrationMode();
}

uint16_t Emulator::dacWord1() const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->device.dac1();
}

uint16_t Emulator::dacWord2() const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->device.dac2();
}

uint8_t Emulator::hardwareStatus() const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->device.hardwareStatus();
}

StreamStats Emulator::streamStats() const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->device.stream.stats();
}

LatencyStats Emulator::streamLatency() const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->device.stream.latency();
}

void Emulator::clearStreamStats() {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->device.stream.clearStats();
}

std::vector<Sample> Emulator::playedSamples(size_t max) const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->device.stream.played(max);
}

std::vector<PlayedSample> Emulator::playedMillivolts(size_t max, double attenuation) const {
    std::vector<Sample> words = playedSamples(max);
    std::vector<PlayedSample> out;
    out.reserve(words.size());
    for (const Sample& s : words) {
        out.push_back(
            PlayedSample{s.dc, s.ac, DcMillivolts(s.dc), AcMillivolts(s.ac, attenuation)});
    }
    return out;
}

void Emulator::clearPlayed() {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->device.stream.clearPlayed();
}

std::vector<Sample> Emulator::uploadedSamples() const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->device.uploadedSamples();
}

std::array<uint8_t, 64> Emulator::waveformInfo() const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->device.waveformInfo();
}

std::array<uint8_t, 64> Emulator::controlSetting() const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->device.controlSetting();
}

bool Emulator::blockOutputOn() const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->device.blockOutputOn();
}

std::vector<Sample> Emulator::blockPlayout(size_t count) const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->device.blockPlayout(count);
}

std::vector<Sample> Emulator::standalonePlayout(size_t count) const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->device.standalonePlayout(count);
}

std::optional<RomSlot> Emulator::romSlot(uint8_t slot) const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->device.romSlot(slot);
}

}  // namespace hsimemu
