// BundleInfo: the application bundle's information dictionary (Contents/Info.plist), read once.
#pragma once

#include <optional>
#include <string>

#include "helperkit/PlistValue.h"

namespace qw {

// Empty when the program runs outside a bundle or the file cannot be read.
const PlistDictionary& bundleInfo();
// A text value of the dictionary; nothing when absent or not text.
std::optional<std::string> bundleString(const PlistDictionary& info, std::string_view key);

}  // namespace qw
