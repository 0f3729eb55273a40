// What the library holds, read back from its getters: the output function and
// the parameters that apply to it, by hsimctl's option names ("rate",
// "amplitude", ...) with their units. Titles, status lines and reports show
// these rather than the text that was typed, so a record says what played.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace hsimctl {

// The function ("function", "ecg") first, then its parameters: the rate in
// bpm for the ECG beats and in Hz for the other functions, the amplitude, the
// pulse width of the pulse functions, the custom beat's fields, the pattern
// or lead of the pattern functions, and pacing, noise, drift and the test
// modes when they are on. Works without a device (the library's stored
// values).
std::vector<std::pair<std::string, std::string>> ReadBackSettings();

// The same as one line: "ecg, rate 75bpm, amplitude 1mV".
std::string DescribeReadBack();

// Where each built-in table's data came from, as `hsimctl info` prints it:
// {"IEC227W", "published data"}, ...
std::vector<std::pair<std::string, std::string>> TableProvenance();

// "libhsim 1.0.5.0" from HSIMGetVersion.
std::string LibraryVersion();

// The connected simulator: identity, serial number and hardware information
// words, as text (needs a connection).
struct DeviceIdentity {
    std::string identity;  // "'SE', code bytes 0x01 0xAB, numbers 123 and 7"
    std::string serialNumber;
    std::string hardware;  // the five words
};
DeviceIdentity ReadDeviceIdentity();

}  // namespace hsimctl
