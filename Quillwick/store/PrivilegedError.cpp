#include "Quillwick/store/PrivilegedError.h"

namespace qw {

PrivilegedError::PrivilegedError(Kind kind, std::string payload) : kind_(kind), payload_(std::move(payload)) {
    switch (kind_) {
    case Kind::helperUnreachable: description_ = "Could not reach the privileged helper: " + payload_; break;
    case Kind::elevationFailed:
        description_ = payload_.empty() ? "The operation could not be run as an administrator." : payload_;
        break;
    case Kind::helperMissing:
        description_ =
            "Quillwick's privileged helper is missing from the app bundle. Reinstalling the app should replace it.";
        break;
    case Kind::cancelled: break;
    }
}

}  // namespace qw
