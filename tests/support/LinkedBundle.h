// A bundle of the test's own, anywhere: the built programs linked into it (copied where no link can be
// made) and a helper list naming the helper inside it. Its folders are the test's to own and open up;
// its programs are the build's own files, so their owner and mode must be left alone.
#pragma once

#include <filesystem>
#include <system_error>

#include "helperkit/PlistFile.h"

namespace qw::test {

inline std::filesystem::path linkedBundle(const std::filesystem::path& folder) {
    namespace fs = std::filesystem;
    const fs::path built = fs::path(QUILLWICK_BINARY_DIR) / "Quillwick.app/Contents";
    const fs::path bundle = folder / "Quillwick.app";
    fs::create_directories(bundle / "Contents/MacOS");
    fs::create_directories(bundle / "Contents/Library/LaunchDaemons");
    for (const char* program : {"Quillwick", "QuillwickHelper"}) {
        std::error_code ec;
        fs::create_hard_link(built / "MacOS" / program, bundle / "Contents/MacOS" / program, ec);
        if (ec) fs::copy_file(built / "MacOS" / program, bundle / "Contents/MacOS" / program);
    }
    const char* list = "Library/LaunchDaemons/com.tarnmoor.quillwick.helper.plist";
    PlistFile helper = PlistFile::read(built / list);
    helper.set("ProgramArguments", PlistValue(PlistArray{PlistValue((bundle / "Contents/MacOS/QuillwickHelper").string())}));
    helper.write(bundle / "Contents" / list);
    return bundle;
}

}  // namespace qw::test
