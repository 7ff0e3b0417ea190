// ServicePrinter: the texts launchctl prints about services — the list table, a service block, a
// domain block and the disabled records — tab-indented as launchd writes them.
#pragma once

#include <string>

#include "helperkit/LaunchdDomain.h"
#include "ServiceRecord.h"

namespace qw {

class ServicePrinter {
public:
    static std::string list(const DomainState& state);
    static std::string service(const LaunchdDomain& domain, const ServiceRecord& record);
    static std::string domain(const LaunchdDomain& domain, const DomainState& state);
    static std::string disabled(const DomainState& state);

    // The domain form's status column: "-" never exited, the code, or minus the signal.
    static std::string statusColumn(const ServiceRecord& record);
    // "last exit code = (never exited)", "= 1", "= 78: EX_CONFIG", or "last terminating signal = Killed: 9".
    static std::string lastExitLine(const ServiceRecord& record);
};

}  // namespace qw
