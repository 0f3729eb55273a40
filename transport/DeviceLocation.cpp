// Device node and lock file locations.
//
// The port path is a printf format with one "%d". The presence test lists
// the nodes with a shell command; the part of the format before and after
// "%d" is put in single quotes there, so no character of a configured path
// is ever interpreted by the shell (a single quote inside is written as
// '\''). The defaults need no quoting and give exactly
// "/bin/ls /dev/ttyACM* 2>/dev/null".
#include "transport/DeviceLocation.h"

#include <cstdio>
#include <cstring>
#include <mutex>

namespace {

constexpr const char* kDefaultFormat = "/dev/ttyACM%d";
constexpr const char* kDefaultLockDirectory = "/var/lock";
constexpr const char* kLockFileName = "norvale.ACM%d.lock";

// Where the ports are is the same for every simulator of the process. Plain
// arrays: the monitor thread reads them until the very end of the process,
// after which no destructor may have run on them.
struct Location {
    std::mutex mutex;
    char prefix[kDevicePathSize] = "/dev/ttyACM";  // format before "%d"
    char suffix[kDevicePathSize] = "";             // format after "%d"
    char lockDirectory[kLockPathSize] = "/var/lock";
    int started = 0;  // simulators whose connect thread runs: the location is fixed
};
Location s_Location;

// Splits a format at its one "%d"; false unless there is exactly one
// conversion and it is "%d".
bool SplitFormat(const char* format, char* prefix, char* suffix)
{
    const char* conversion = nullptr;
    for (const char* p = format; *p; ++p) {
        if (*p != '%')
            continue;
        if (p[1] != 'd' || conversion)
            return false;
        conversion = p;
        ++p;
    }
    if (!conversion)
        return false;
    size_t prefixLength = size_t(conversion - format);
    size_t suffixLength = strlen(conversion + 2);
    // The longest port number, 127, takes three digits.
    if (prefixLength + 3 + suffixLength + 1 > kDevicePathSize)
        return false;
    memcpy(prefix, format, prefixLength);
    prefix[prefixLength] = '\0';
    memcpy(suffix, conversion + 2, suffixLength + 1);
    return true;
}

bool NeedsQuoting(const char* s)
{
    for (; *s; ++s) {
        char c = *s;
        bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                     c == '/' || c == '.' || c == '_' || c == '-';
        if (!plain)
            return true;
    }
    return false;
}

// Appends s to out, single-quoted for the shell when it needs quoting.
bool AppendShellWord(char* out, size_t size, const char* s)
{
    size_t n = strlen(out);
    bool quote = NeedsQuoting(s);
    auto put = [&](char c) {
        if (n + 1 >= size)
            return false;
        out[n++] = c;
        out[n] = '\0';
        return true;
    };
    bool ok = !quote || put('\'');
    for (; ok && *s; ++s) {
        if (quote && *s == '\'')
            ok = put('\'') && put('\\') && put('\'') && put('\'');
        else
            ok = put(*s);
    }
    return ok && (!quote || put('\''));
}

}  // namespace

bool FormatDevicePath(int port, char* out, size_t size)
{
    std::lock_guard<std::mutex> guard(s_Location.mutex);
    int n = snprintf(out, size, "%s%d%s", s_Location.prefix, port, s_Location.suffix);
    return n > 0 && size_t(n) < size;
}

bool FormatLockPath(int port, char* out, size_t size)
{
    std::lock_guard<std::mutex> guard(s_Location.mutex);
    char name[64];
    snprintf(name, sizeof name, kLockFileName, port);
    int n = snprintf(out, size, "%s/%s", s_Location.lockDirectory, name);
    return n > 0 && size_t(n) < size;
}

bool CopyLockDirectory(char* out, size_t size)
{
    std::lock_guard<std::mutex> guard(s_Location.mutex);
    int n = snprintf(out, size, "%s", s_Location.lockDirectory);
    return n >= 0 && size_t(n) < size;
}

bool FormatPresenceCommand(char* out, size_t size)
{
    std::lock_guard<std::mutex> guard(s_Location.mutex);
    if (size == 0)
        return false;
    // "/bin/ls <prefix>*<suffix> 2>/dev/null", prefix and suffix quoted.
    int n = snprintf(out, size, "/bin/ls ");
    bool ok = n > 0 && size_t(n) < size;
    ok = ok && AppendShellWord(out, size, s_Location.prefix);
    if (ok) {
        size_t len = strlen(out);
        ok = len + 2 < size;
        if (ok) {
            out[len] = '*';
            out[len + 1] = '\0';
        }
    }
    ok = ok && AppendShellWord(out, size, s_Location.suffix);
    if (ok) {
        size_t len = strlen(out);
        int m = snprintf(out + len, size - len, " 2>/dev/null");
        ok = m > 0 && size_t(m) < size - len;
    }
    return ok;
}

void DeviceLocationSetLocked(bool locked)
{
    // One count for all the simulators of the process: the location stays
    // fixed until the last one has stopped.
    std::lock_guard<std::mutex> guard(s_Location.mutex);
    s_Location.started += locked ? 1 : (s_Location.started > 0 ? -1 : 0);
}

int DeviceLocationSet(const char* devicePathFormat, const char* lockDirectory)
{
    const char* format = devicePathFormat ? devicePathFormat : kDefaultFormat;
    const char* directory = lockDirectory ? lockDirectory : kDefaultLockDirectory;
    char prefix[kDevicePathSize];
    char suffix[kDevicePathSize];
    int result = 0;
    // "<dir>/norvale.ACM127.lock" must fit the lock path buffer.
    size_t directoryLength = strlen(directory);
    size_t longestName = strlen("norvale.ACM127.lock");

    std::lock_guard<std::mutex> guard(s_Location.mutex);
    if (s_Location.started > 0)
        result = -1;
    else if (!SplitFormat(format, prefix, suffix))
        result = -2;
    else if (directoryLength == 0 || directoryLength + 1 + longestName + 1 > kLockPathSize)
        result = -3;
    if (result == 0) {
        memcpy(s_Location.prefix, prefix, sizeof s_Location.prefix);
        memcpy(s_Location.suffix, suffix, sizeof s_Location.suffix);
        memcpy(s_Location.lockDirectory, directory, directoryLength + 1);
    }
    return result;
}

int DeviceLocationGet(char* devicePathFormat, size_t formatSize, char* lockDirectory, size_t lockSize)
{
    std::lock_guard<std::mutex> guard(s_Location.mutex);
    int result = 0;
    if (devicePathFormat) {
        int n = snprintf(devicePathFormat, formatSize, "%s%%d%s", s_Location.prefix, s_Location.suffix);
        if (n < 0 || size_t(n) >= formatSize)
            result = -1;
    }
    if (lockDirectory) {
        int n = snprintf(lockDirectory, lockSize, "%s", s_Location.lockDirectory);
        if (n < 0 || size_t(n) >= lockSize)
            result = -1;
    }
    return result;
}
