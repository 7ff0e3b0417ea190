#include "ErrorTexts.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <csignal>

#include <fmt/format.h>

namespace qw {

namespace {

struct CodeText {
    long code;
    const char* text;
};

// errno in macOS numbering, then launchd's own codes.
constexpr CodeText kCodes[] = {
    {1, "Operation not permitted"}, {2, "No such file or directory"}, {3, "No such process"},
    {4, "Interrupted system call"}, {5, "Input/output error"}, {6, "Device not configured"},
    {7, "Argument list too long"}, {8, "Exec format error"}, {9, "Bad file descriptor"},
    {10, "No child processes"}, {11, "Resource deadlock avoided"}, {12, "Cannot allocate memory"},
    {13, "Permission denied"}, {14, "Bad address"}, {15, "Block device required"}, {16, "Resource busy"},
    {17, "File exists"}, {18, "Cross-device link"}, {19, "Operation not supported by device"},
    {20, "Not a directory"}, {21, "Is a directory"}, {22, "Invalid argument"},
    {23, "Too many open files in system"}, {24, "Too many open files"}, {25, "Inappropriate ioctl for device"},
    {26, "Text file busy"}, {27, "File too large"}, {28, "No space left on device"}, {29, "Illegal seek"},
    {30, "Read-only file system"}, {31, "Too many links"}, {32, "Broken pipe"},
    {33, "Numerical argument out of domain"}, {34, "Result too large"},
    {35, "Resource temporarily unavailable"}, {36, "Operation now in progress"},
    {37, "Operation already in progress"}, {38, "Socket operation on non-socket"},
    {39, "Destination address required"}, {40, "Message too long"}, {41, "Protocol wrong type for socket"},
    {42, "Protocol not available"}, {43, "Protocol not supported"}, {44, "Socket type not supported"},
    {45, "Operation not supported"}, {46, "Protocol family not supported"},
    {47, "Address family not supported by protocol family"}, {48, "Address already in use"},
    {49, "Can't assign requested address"}, {50, "Network is down"}, {51, "Network is unreachable"},
    {52, "Network dropped connection on reset"}, {53, "Software caused connection abort"},
    {54, "Connection reset by peer"}, {55, "No buffer space available"}, {56, "Socket is already connected"},
    {57, "Socket is not connected"}, {58, "Can't send after socket shutdown"},
    {59, "Too many references: can't splice"}, {60, "Operation timed out"}, {61, "Connection refused"},
    {62, "Too many levels of symbolic links"}, {63, "File name too long"}, {64, "Host is down"},
    {65, "No route to host"}, {66, "Directory not empty"}, {67, "Too many processes"}, {68, "Too many users"},
    {69, "Disc quota exceeded"}, {70, "Stale NFS file handle"}, {71, "Too many levels of remote in path"},
    {72, "RPC struct is bad"}, {73, "RPC version wrong"}, {74, "RPC prog. not avail"},
    {75, "Program version wrong"}, {76, "Bad procedure for program"}, {77, "No locks available"},
    {78, "Function not implemented"}, {79, "Inappropriate file type or format"}, {80, "Authentication error"},
    {81, "Need authenticator"}, {82, "Device power is off"}, {83, "Device error"},
    {84, "Value too large to be stored in data type"}, {85, "Bad executable (or shared library)"},
    {86, "Bad CPU type in executable"}, {87, "Shared library version mismatch"}, {88, "Malformed Mach-o file"},
    {89, "Operation canceled"}, {90, "Identifier removed"}, {91, "No message of desired type"},
    {92, "Illegal byte sequence"}, {93, "Attribute not found"}, {94, "Bad message"},
    {95, "EMULTIHOP (Reserved)"}, {96, "No message available on STREAM"}, {97, "ENOLINK (Reserved)"},
    {98, "No STREAM resources"}, {99, "Not a STREAM"}, {100, "Protocol error"}, {101, "STREAM ioctl timeout"},
    {102, "Operation not supported on socket"}, {103, "Policy not found"}, {104, "State not recoverable"},
    {105, "Previous owner died"}, {106, "Interface output queue is full"},
    {107, "Malformed bundle"}, {108, "Invalid path"}, {109, "Invalid property list"},
    {110, "Invalid or missing service identifier"}, {111, "Invalid or missing Program/ProgramArguments"},
    {112, "Could not find specified domain"}, {113, "Could not find specified service"},
    {114, "The specified username does not exist"}, {115, "The specified group does not exist"},
    {116, "Routine not yet implemented"}, {117, "(n/a)"}, {118, "Bad response from server"},
    {119, "Service is disabled"}, {120, "Bad subsystem destination for request"},
    {121, "Path not searched for services"}, {122, "Path had bad ownership/permissions"},
    {123, "Path is whitelisted for domain"}, {124, "Domain is tearing down"},
    {125, "Domain does not support specified action"}, {126, "Request type is no longer supported"},
    {127, "The specified service did not ship with the operating system"},
    {128, "The specified path is not a bundle"}, {129, "The service was superseded by a later version"},
    {130, "The system encountered a condition where behavior was undefined"}, {131, "Out of order requests"},
    {132, "Request for stale data"}, {133, "Multiple errors were returned; see stderr"},
    {134, "Service cannot load in requested session"}, {135, "Process is not managed"},
    {136, "Action not allowed on singleton service"}, {137, "Service does not support the specified action"},
    {138, "Service cannot be loaded on this hardware"}, {139, "Service cannot presently execute"},
    {140, "Service name is reserved or invalid"}, {141, "Reentrancy avoided"},
    {142, "Operation only supported on development"}, {143, "Requested entry was cached"},
    {144, "Requestor lacks required entitlement"}, {145, "Endpoint is hidden"},
    {146, "Domain is in on-demand-only mode"},
    {147, "The specified service did not ship in the requestor's domain"},
    {148, "The specified service path was not in the service cache"},
    {149, "Could not find a bundle of the given identifier through LaunchServices"},
    {150, "Operation not permitted while System Integrity Protection is engaged"},
    {151, "A complete hack"}, {152, "Service cannot load in current boot environment"},
    {153, "Completely unexpected error"}, {154, "Requestor is not a platform binary"},
    {155, "Refusing to execute/trust quarantined program/file"},
    {156, "Domain creation with that UID is not allowed anymore"},
    {157, "System service is not in system service allowlist"},
    {158, "Service cannot be loaded on current os variant"},
    {159, "Unknown service"}, {160, "Service is not runnable"},
    {161, "Service has an unsupported path"}, {162, "Service is not allowed to run"},
    {163, "The service is restricted"}, {164, "Job is not loaded"},
    {165, "Domain is not in a valid state"}, {166, "Could not find specified endpoint"},
    {167, "Endpoint is in use"}, {168, "Service is in use"}, {169, "Service is not running"},
    {170, "Service is already running"}, {171, "Service is being removed"},
    {172, "Service was killed"}, {173, "Domain is not accepting new services"},
    {174, "Request would have blocked"}, {175, "Timed out waiting for service"},
    {176, "Service has no program"}, {177, "Service has an invalid user"},
    {178, "Service has an invalid group"}, {179, "Service has an invalid session type"},
    {180, "Service has an invalid configuration"},
};

struct SignalName {
    const char* name;
    int mac;
    int host;
    const char* description;
};

constexpr SignalName kSignals[] = {
    {"HUP", 1, SIGHUP, "Hangup"}, {"INT", 2, SIGINT, "Interrupt"}, {"QUIT", 3, SIGQUIT, "Quit"},
    {"ILL", 4, SIGILL, "Illegal instruction"}, {"TRAP", 5, SIGTRAP, "Trace/BPT trap"},
    {"ABRT", 6, SIGABRT, "Abort trap"}, {"FPE", 8, SIGFPE, "Floating point exception"},
    {"KILL", 9, SIGKILL, "Killed"}, {"BUS", 10, SIGBUS, "Bus error"}, {"SEGV", 11, SIGSEGV, "Segmentation fault"},
    {"SYS", 12, SIGSYS, "Bad system call"}, {"PIPE", 13, SIGPIPE, "Broken pipe"},
    {"ALRM", 14, SIGALRM, "Alarm clock"}, {"TERM", 15, SIGTERM, "Terminated"},
    {"URG", 16, SIGURG, "Urgent I/O condition"}, {"STOP", 17, SIGSTOP, "Suspended (signal)"},
    {"TSTP", 18, SIGTSTP, "Suspended"}, {"CONT", 19, SIGCONT, "Continued"},
    {"CHLD", 20, SIGCHLD, "Child exited"}, {"TTIN", 21, SIGTTIN, "Stopped (tty input)"},
    {"TTOU", 22, SIGTTOU, "Stopped (tty output)"}, {"IO", 23, SIGIO, "I/O possible"},
    {"XCPU", 24, SIGXCPU, "Cputime limit exceeded"}, {"XFSZ", 25, SIGXFSZ, "Filesize limit exceeded"},
    {"VTALRM", 26, SIGVTALRM, "Virtual timer expired"}, {"PROF", 27, SIGPROF, "Profiling timer expired"},
    {"WINCH", 28, SIGWINCH, "Window size changes"}, {"USR1", 30, SIGUSR1, "User defined signal 1"},
    {"USR2", 31, SIGUSR2, "User defined signal 2"},
};

const SignalName* byMac(int mac)
{
    for (const auto& entry : kSignals)
        if (entry.mac == mac)
            return &entry;
    return nullptr;
}

}  // namespace

std::string ErrorTexts::describe(long code)
{
    for (const auto& entry : kCodes)
        if (entry.code == code)
            return entry.text;
    return fmt::format("Unknown error: {}", code);
}

std::optional<std::string> ErrorTexts::exitSymbol(int code)
{
    static constexpr std::array<const char*, 15> kSysexits = {
        "EX_USAGE", "EX_DATAERR", "EX_NOINPUT", "EX_NOUSER", "EX_NOHOST", "EX_UNAVAILABLE", "EX_SOFTWARE",
        "EX_OSERR", "EX_OSFILE", "EX_CANTCREAT", "EX_IOERR", "EX_TEMPFAIL", "EX_PROTOCOL", "EX_NOPERM",
        "EX_CONFIG"};
    if (code >= 64 && code <= 78)
        return kSysexits[static_cast<std::size_t>(code - 64)];
    return std::nullopt;
}

std::optional<int> ErrorTexts::macSignal(std::string_view specifier)
{
    int number = 0;
    const auto [end, error] = std::from_chars(specifier.data(), specifier.data() + specifier.size(), number);
    if (error == std::errc() && end == specifier.data() + specifier.size() && !specifier.empty())
        return byMac(number) ? std::optional<int>(number) : std::nullopt;
    std::string name(specifier);
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::toupper(c); });
    if (name.rfind("SIG", 0) == 0)
        name.erase(0, 3);
    for (const auto& entry : kSignals)
        if (name == entry.name)
            return entry.mac;
    return std::nullopt;
}

std::optional<int> ErrorTexts::hostSignalFromMac(int macSignal)
{
    if (const auto* entry = byMac(macSignal))
        return entry->host;
    return std::nullopt;
}

int ErrorTexts::macSignalFromHost(int hostSignal)
{
    for (const auto& entry : kSignals)
        if (entry.host == hostSignal)
            return entry.mac;
    return hostSignal;
}

std::string ErrorTexts::signalName(int macSignal)
{
    if (const auto* entry = byMac(macSignal))
        return std::string("SIG") + entry->name;
    return fmt::format("SIG{}", macSignal);
}

std::string ErrorTexts::signalDescription(int macSignal)
{
    if (const auto* entry = byMac(macSignal))
        return fmt::format("{}: {}", entry->description, macSignal);
    return fmt::format("Unknown signal: {}", macSignal);
}

}  // namespace qw
