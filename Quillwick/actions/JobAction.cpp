#include "Quillwick/actions/JobAction.h"

namespace qw {

QString title(JobAction action) {
    switch (action) {
    case JobAction::start: return "Start";
    case JobAction::restart: return "Restart";
    case JobAction::stop: return "Stop";
    case JobAction::load: return "Load";
    case JobAction::unload: return "Unload";
    case JobAction::enable: return "Enable";
    case JobAction::disable: break;
    }
    return "Disable";
}

}  // namespace qw
