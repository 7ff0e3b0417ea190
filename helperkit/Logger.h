// The unified log's stand-in for plain C++: one logger per subsystem and category, writing to syslog
// (ident = subsystem, the category in the message). In a sandbox build QUILLWICK_LOG_FILE also gets
// every line appended, for tests.
#pragma once

#include <string>
#include <string_view>

namespace qw {

class Logger {
public:
    enum class Level { debug, info, notice, error, fault };

    Logger(std::string subsystem, std::string category);

    void log(Level level, std::string_view message) const;
    void debug(std::string_view m) const { log(Level::debug, m); }
    void info(std::string_view m) const { log(Level::info, m); }
    void notice(std::string_view m) const { log(Level::notice, m); }
    void error(std::string_view m) const { log(Level::error, m); }
    void fault(std::string_view m) const { log(Level::fault, m); }

    const std::string& subsystem() const { return subsystem_; }
    const std::string& category() const { return category_; }

private:
    std::string subsystem_;
    std::string category_;
};

}  // namespace qw
