// The helper tool's own Info.plist (it has no bundle of its own), embedded in the executable at build time.
#pragma once

#include <string_view>

namespace qw::HelperInfo {

std::string_view infoPlist();

}  // namespace qw::HelperInfo
