// ErrorTexts: what launchctl says about numbers — error codes in macOS numbering (errno values and
// launchd's own codes), the sysexits symbols of exit codes, and signals by macOS name and number.
// Jobs really run on this machine, so signal numbers are translated between the host and macOS.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace qw {

class ErrorTexts {
public:
    // "Input/output error" for 5; "Unknown error: <n>" for a code without a text.
    static std::string describe(long code);
    // "EX_CONFIG" for 78; nothing for codes without a symbol.
    static std::optional<std::string> exitSymbol(int code);

    // "TERM", "SIGTERM", "term" or a macOS signal number → the macOS number.
    static std::optional<int> macSignal(std::string_view specifier);
    static std::optional<int> hostSignalFromMac(int macSignal);
    static int macSignalFromHost(int hostSignal);
    // "SIGTERM" for 15 (macOS numbering); "SIG<n>" for numbers without a name.
    static std::string signalName(int macSignal);
    // The description launchd prints for a terminating signal: "Terminated: 15".
    static std::string signalDescription(int macSignal);
};

}  // namespace qw
