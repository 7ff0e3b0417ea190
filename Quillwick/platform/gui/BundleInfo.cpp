#include "Quillwick/platform/gui/BundleInfo.h"

#include "helperkit/PlistFile.h"
#include "helperkit/SystemPaths.h"

namespace qw {

const PlistDictionary& bundleInfo() {
    static const PlistDictionary info = [] {
        const auto bundle = SystemPaths::applicationBundle();
        if (!bundle)
            return PlistDictionary();
        try {
            return PlistFile::read(*bundle / "Contents" / "Info.plist").root;
        } catch (const std::exception&) {
            return PlistDictionary();
        }
    }();
    return info;
}

std::optional<std::string> bundleString(const PlistDictionary& info, std::string_view key) {
    const PlistValue* value = info.find(key);
    if (!value || !value->isString())
        return std::nullopt;
    return value->stringValue();
}

}  // namespace qw
