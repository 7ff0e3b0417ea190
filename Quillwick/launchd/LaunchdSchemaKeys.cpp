// The catalogue's data: every key in its section, in the order the editor and the overview list them.
#include "Quillwick/launchd/LaunchdSchema.h"

namespace qw::LaunchdSchema {

namespace {

using K = Shape::Kind;

class Builder {
public:
    void section(Section section) { section_ = section; }

    Key& add(std::string name, Shape shape, std::string summary, std::optional<std::string> detail = std::nullopt) {
        Key key;
        key.name = std::move(name);
        key.shape = std::move(shape);
        key.section = section_;
        key.summary = std::move(summary);
        key.detail = std::move(detail);
        keys_.push_back(std::move(key));
        return keys_.back();
    }

    std::vector<Key> take() { return std::move(keys_); }

private:
    Section section_ = Section::identity;
    std::vector<Key> keys_;
};

Key& deprecated(Key& key, std::string note) {
    key.isDeprecated = true;
    key.deprecationNote = std::move(note);
    return key;
}

Key& undocumented(Key& key) {
    key.isPrivate = true;
    return key;
}

std::vector<Key> buildCatalogue() {
    Builder b;

    b.section(Section::identity);
    b.add("Label", K::string, "The job's unique name.",
          "launchd knows the job by this name, so it has to be unique within the job's domain. By convention it "
          "is written in reverse-DNS style, like com.example.backup, and the file is named after it with .plist "
          "appended.");
    b.add("Disabled", K::boolean, "Keep the job from being loaded.",
          "Read only when the job is loaded. launchd keeps its own record of enabled and disabled jobs, changed "
          "with launchctl enable and disable, and that record overrides this key once it exists.");

    b.section(Section::execution);
    b.add("ProgramArguments", K::stringArray, "The program to run and its arguments.",
          "The first element is the program, each further element one argument. No shell is involved: there is "
          "no word splitting, quoting, wildcard, ~ or $VARIABLE expansion. For shell features, run /bin/sh with "
          "the arguments -c and the command line.\n\n"
          "Without Program, the first element is also the file launchd runs; give it as an absolute path.");
    b.add("Program", K::executablePath, "The absolute path of the program to run.",
          "When set, launchd runs this file and passes ProgramArguments as its argument list; the first element "
          "of that list is then only the name the program sees for itself. When absent, the first element of "
          "ProgramArguments is the program.");
    b.add("WorkingDirectory", K::path, "The folder the program starts in.",
          "launchd changes to this folder before starting the program. Without it the program starts in /, so "
          "relative paths in its arguments or its own code do not point where they would in Terminal.");
    b.add("RootDirectory", K::path, "Run the program with this folder as its file-system root.",
          "launchd changes the root (chroot) to this folder before starting the program, so the program, its "
          "libraries and every file it opens must exist inside it. Changing the root needs root privileges.");
    b.add("UserName", K::string, "The user to run as.",
          "Only daemons can use this: an agent already runs as the user whose session it belongs to, and "
          "setting it there does nothing. A daemon with no UserName runs as root.")
        .applicability = Applicability::daemons;
    b.add("GroupName", K::string, "The group to run as.").applicability = Applicability::daemons;
    b.add("InitGroups", K::boolean, "Also grant the user's other group memberships.").applicability =
        Applicability::daemons;
    b.add("Umask", K::integer, "The file-creation mask, as a decimal number.",
          "A property list has no octal, so this is written in decimal and is the classic place to make a "
          "mistake: the familiar 022 is 18 here, and writing 22 gives you 026.");
    b.add("ProcessType", K::string, "How the system should schedule this process.",
          "Tells the kernel what kind of work this is so it can pick CPU and I/O priorities. Background is right "
          "for anything that should stay out of the way; Interactive is for something a person is waiting on and "
          "should be used sparingly.")
        .allowedValues = std::vector<std::string>{"Background", "Standard", "Adaptive", "Interactive"};
    b.add("Nice", K::integer, "Raise or lower the process's CPU priority.",
          "The Unix nice value, from -20 (served first) to 20 (served last); 0 is normal. Only a job that runs "
          "as root may go below 0.");
    b.add("LowPriorityIO", K::boolean, "Treat the program's file-system I/O as low priority.",
          "The kernel serves the program's disk reads and writes after everyone else's, which suits backups "
          "and indexing that should not slow down the Mac.");
    b.add("LowPriorityBackgroundIO", K::boolean, "Treat the program's file-system I/O as low priority while it "
                                                 "is in the background.",
          "Like LowPriorityIO, but only while the system has put the process in the background class.");
    b.add("AbandonProcessGroup", K::boolean, "Leave the job's child processes running when it exits.",
          "When a job exits, launchd normally kills every process still left in its process group. Set this "
          "when the job deliberately starts helpers that must outlive it.");
    b.add("LaunchOnlyOnce", K::boolean, "Run the job only once until the Mac restarts.",
          "For set-up work that cannot safely be repeated: once the job has run, launchd does not start it "
          "again until the next restart, whatever its other triggers say.");
    deprecated(b.add("EnableGlobbing", K::boolean, "Expand wildcards in ProgramArguments."),
               "Removed in newer versions of launchd; wildcards are not expanded regardless.");
    undocumented(b.add("POSIXSpawnType", K::string, "The spawn class the kernel should use."))
        .allowedValues =
        std::vector<std::string>{"Interactive", "Standard", "Background", "Adaptive", "App", "Daemon", "TAL", "Widget"};
    b.add("WaitForDebugger", K::boolean, "Hold the process at its start until a debugger attaches.",
          "launchd starts the program suspended, before any of its own code runs. Turn it off again after "
          "debugging: with no debugger the job never gets going.");
    undocumented(b.add("MaterializeDatalessFiles", K::boolean,
                       "Download files that are only stored in iCloud when the program opens them."));

    b.section(Section::scheduling);
    b.add("RunAtLoad", K::boolean, "Start the job as soon as it is loaded.",
          "Agents in the LaunchAgents folders are loaded at login and daemons at startup, so this is how a job "
          "runs at login or at boot. Without it, a job waits for one of its other triggers.");
    b.add("KeepAlive",
          Shape::booleanOrConditions(
              {"SuccessfulExit", "Crashed", "NetworkState", "PathState", "OtherJobEnabled", "AfterInitialDemand"}),
          "Restart the job when it stops.",
          "Set to true, launchd restarts the program whenever it exits, for any reason. Set to a dictionary, each "
          "condition qualifies that: SuccessfulExit false restarts only after a failure; Crashed true restarts "
          "only after a crash; PathState keeps the job running while a path exists (true) or does not (false).\n\n"
          "A program that exits immediately with KeepAlive on will be restarted immediately, over and over, until "
          "launchd throttles it — which is what \"penalty box\" means in the job's state.");
    b.add("StartInterval", K::integer, "Start the job every so many seconds.",
          "The seconds are counted from when the job is loaded. A start that falls due while the job is still "
          "running, or while the Mac is asleep, is skipped rather than made up later.");
    b.add("StartCalendarInterval", K::calendarInterval, "Start the job at set times of the day, week or month.",
          "Each entry is a dictionary of Minute, Hour, Day, Weekday and Month. A field left out matches every "
          "value, so an entry with only Hour 9 runs every minute from 09:00 to 09:59; give Minute 0 as well to "
          "run once. Weekday 0 and 7 are both Sunday. Several times are given as an array of entries.\n\n"
          "Unlike cron, launchd runs a job whose time passed while the Mac was asleep once it wakes, a single "
          "time however many starts were missed.");
    b.add("WatchPaths", K::pathArray, "Start the job when any of these paths changes.",
          "A watched file counts as changed when it is written, renamed or deleted; a watched folder only when an "
          "item is added to it, removed or renamed, not when a file inside it is edited. The job is not told "
          "which path changed.");
    b.add("QueueDirectories", K::pathArray, "Keep the job running while any of these folders is not empty.",
          "launchd starts the job when one of the folders holds something, and again after each exit while it "
          "still does. The job is expected to process and remove the items; one that leaves them behind is "
          "restarted over and over.");
    b.add("StartOnMount", K::boolean, "Start the job whenever a disk is mounted.",
          "Any mounted file system counts, a disk image or a network share as much as a USB drive. The job is "
          "not told which one appeared.");
    b.add("ThrottleInterval", K::integer, "The fewest seconds between two starts of the job.",
          "launchd does not start the job again sooner than this after its last start; the default is 10 "
          "seconds. A job that keeps exiting sooner is held back each time, which launchctl reports as the "
          "penalty box.");
    b.add("ExitTimeOut", K::integer, "Seconds to wait for the job to exit before killing it.",
          "When launchd stops a job it sends SIGTERM, waits this long, then sends SIGKILL. The default is set by "
          "the system. 0 means wait forever, which can hold up shutdown and should not be used.");
    b.add("TimeOut", K::integer, "A suggested idle time-out for the job, in seconds.",
          "launchd never acts on this value itself: it does not stop a job that runs or idles for longer.");
    b.add("LaunchEvents", K::structured, "Start the job in response to system events.",
          "A dictionary of event streams, such as com.apple.iokit.matching for devices or "
          "com.apple.notifyd.matching for notifications, each naming the events that start the job. The program "
          "has to take each event through the XPC event API, or launchd starts it again and again.");
    deprecated(b.add("OnDemand", K::boolean, "Whether the job runs only when needed."),
               "Replaced by KeepAlive, whose sense is the opposite. Setting OnDemand false is the old way of "
               "writing KeepAlive true.");

    b.section(Section::environment);
    b.add("EnvironmentVariables", K::stringDictionary, "Environment variables to set for the program.",
          "launchd reads no shell start-up files, so what is set in .zshrc or .bash_profile is not there, and PATH "
          "is only /usr/bin:/bin:/usr/sbin:/sbin. Values are used exactly as written: ~ and $HOME inside them are "
          "not expanded.");

    b.section(Section::inputOutput);
    b.add("StandardOutPath", K::path, "File to write the program's output to.",
          "The file is created when it does not exist and is appended to, never emptied; its folder has to exist "
          "already. Without this key the output is thrown away.");
    b.add("StandardErrorPath", K::path, "File to write the program's error messages to.",
          "The first place to look when a job fails. As with StandardOutPath, the folder has to exist and the "
          "file is appended to; it may be the same file as StandardOutPath.");
    b.add("StandardInPath", K::path, "File the program reads its input from.",
          "The program's standard input is connected to this file; without it the program reads from /dev/null.");

    b.section(Section::constraints);
    Key& sessionType = b.add(
        "LimitLoadToSessionType", K::stringOrStringArray, "Only load in these kinds of login session.",
        "Aqua is an ordinary graphical login; LoginWindow is the login screen itself; Background is a session "
        "with no user logged in; System is the system domain. An agent with no value here loads in Aqua sessions.");
    sessionType.applicability = Applicability::agents;
    sessionType.allowedValues = std::vector<std::string>{"Aqua", "LoginWindow", "Background", "StandardIO", "System"};
    b.add("LimitLoadToHosts", K::stringArray, "Only load on Macs with these host names.",
          "The job is skipped on every Mac whose host name is not in the list; useful when one set of job files "
          "is shared between several machines.");
    b.add("LimitLoadFromHosts", K::stringArray, "Do not load on Macs with these host names.",
          "The opposite of LimitLoadToHosts: the job loads everywhere except on the Macs listed.");
    undocumented(b.add("LimitLoadToHardware", K::structured, "Only load on matching hardware."));
    undocumented(b.add("LimitLoadFromHardware", K::structured, "Do not load on matching hardware."));
    b.add("AssociatedBundleIdentifiers", K::stringOrStringArray, "The app or apps this job belongs to.",
          "The bundle identifiers of the apps that installed the job, so that Login Items in System Settings "
          "lists the job under the app it belongs to.");
    undocumented(b.add("DisabledInSafeBoot", K::boolean, "Do not load when the Mac is started in safe mode."));

    b.section(Section::limits);
    b.add("SoftResourceLimits", K::integerDictionary, "Resource limits the process starts with.",
          "A dictionary of limits as setrlimit(2) knows them: Core, CPU, Data, FileSize, MemoryLock, "
          "NumberOfFiles, NumberOfProcesses, ResidentSetSize and Stack. The process may raise a soft limit itself, "
          "up to the hard limit.");
    b.add("HardResourceLimits", K::integerDictionary, "Resource ceilings the process cannot raise.",
          "The same names as SoftResourceLimits. Only a process running as root can raise a hard limit again, so "
          "an agent given a low one is stuck with it.");
    undocumented(b.add("JetsamProperties", K::structured, "Memory pressure behaviour."));

    b.section(Section::ipc);
    b.add("MachServices", K::structured, "Mach services that launchd registers on the job's behalf.",
          "Each name is published in the job's bootstrap namespace, and launchd starts the job when a client "
          "first sends a message to it. This is how XPC services and on-demand daemons are reached; the job "
          "needs no other trigger.");
    b.add("Sockets", K::structured, "Sockets launchd listens on for the job, starting it on the first connection.",
          "launchd creates each socket itself, a TCP or UDP port or a Unix-domain socket path, and starts the job "
          "when a connection or datagram arrives; the program takes the sockets over with "
          "launch_activate_socket.");
    b.add("EnableTransactions", K::boolean, "The program marks the work it has in progress.",
          "The program promises to open a transaction for each piece of work and close it when done. While it has "
          "none open, launchd may kill it outright instead of waiting for it to exit, which speeds up shutdown.");
    b.add("EnablePressuredExit", K::boolean, "Let the system stop the job when it is idle and memory is short.",
          "For programs that track their transactions: when the process has no work in progress and the system "
          "needs memory, launchd may end it, and starts it again when it is next needed.");
    b.add("BeginTransactionAtShutdown", K::boolean, "Count the job as busy from the start of shutdown.",
          "launchd opens a transaction for the job when shutdown or logout begins, so the job is given the "
          "chance to finish its work instead of being killed as idle.");
    b.add("SessionCreate", K::boolean, "Start the job in a security session of its own.",
          "launchd starts the program in a new audit session, as a login does, instead of the one its domain "
          "would give it. Some programs that use the keychain from a daemon need this.");
    undocumented(b.add("MultipleInstances", K::boolean, "Allow more than one copy of the job to run at once."));
    undocumented(b.add("RunLoopType", K::string, "Which run loop the XPC event handler runs on."))
        .allowedValues = std::vector<std::string>{"NSRunLoop", "dispatch"};
    deprecated(b.add("inetdCompatibility", K::structured, "Run the program the way inetd would have."),
               "For porting services written for inetd. New jobs should use Sockets.");
    deprecated(b.add("ServiceIPC", K::boolean, "The job talks to launchd over its IPC channel."),
               "From the launchd 1.x IPC API, which no longer exists.");

    b.section(Section::advanced);
    b.add("LegacyTimers", K::boolean, "Fire the job's timers exactly on time, without coalescing.",
          "The system normally groups timers with nearby deadlines so the Mac wakes less often and saves energy. "
          "This opts the job's timers out of that: more precise, less efficient.");
    deprecated(b.add("HopefullyExitsLast", K::boolean, "Ask to be shut down late in the shutdown sequence."),
               "Never reliable and no longer honoured. Use EnableTransactions, or BeginTransactionAtShutdown for "
               "work that must survive logout.");
    undocumented(b.add("Version", K::integer, "The job description's own version number."));
    undocumented(b.add("NoEnvironmentVariables", K::boolean, "Give the program none of launchd's own environment."));

    return b.take();
}

}  // namespace

const std::vector<Key>& allKeys() {
    static const std::vector<Key> keys = buildCatalogue();
    return keys;
}

}  // namespace qw::LaunchdSchema
