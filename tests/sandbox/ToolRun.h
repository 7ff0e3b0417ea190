// Runs a stand-in tool of the current sandbox root with a small, explicit environment, so that what a
// test sets (QUILLWICK_PROMPT, TZ) is all the tool sees besides the root.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "helperkit/Subprocess.h"
#include "helperkit/SystemPaths.h"

namespace qw::test {

inline Subprocess::Result runTool(const std::filesystem::path& tool, const std::vector<std::string>& arguments,
                                  const std::optional<std::string>& input = std::string(),
                                  Subprocess::Environment extra = {})
{
    Subprocess::Environment environment{{"PATH", "/usr/bin:/bin"},
                                        {"QUILLWICK_ROOT", SystemPaths::current().root().string()}};
    for (auto& [name, value] : extra)
        environment[name] = value;
    return Subprocess::run(tool.string(), arguments, input, environment);
}

}  // namespace qw::test
