// PlistFile: one launchd job file in memory — its top-level dictionary and the format it was read in,
// so that a job saved back keeps its format.
#pragma once

#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "helperkit/PlistCodec.h"
#include "helperkit/PlistValue.h"

namespace qw {

class PlistFile {
public:
    class ReadError : public std::runtime_error {
    public:
        enum class Kind { unreadable, notADictionary };
        // unreadable: "Could not read <file name>: <underlying>"
        // notADictionary: "<file name> is a property list, but not a dictionary. A launchd job has to be a
        // dictionary of keys at the top level."
        ReadError(Kind kind, std::filesystem::path path, std::string underlying = {});
        Kind kind() const { return kind_; }
        const std::filesystem::path& path() const { return path_; }
        const std::string& underlying() const { return underlying_; }

    private:
        Kind kind_;
        std::filesystem::path path_;
        std::string underlying_;
    };

    PlistFile() = default;
    PlistFile(PlistDictionary root, PlistFormat format) : root(std::move(root)), format(format) {}

    static PlistFile read(const std::filesystem::path& path);
    static PlistFile fromData(std::string_view bytes, const std::filesystem::path& path);
    static PlistFile fromText(std::string_view text, const std::filesystem::path& path);

    std::optional<PlistValue> operator[](std::string_view key) const;
    const PlistValue* find(std::string_view key) const { return root.find(key); }
    void set(std::string key, std::optional<PlistValue> value);  // absent removes the key

    std::string data() const;     // bytes in `format`; throws PlistWriteError
    std::string xmlText() const;  // always XML
    void write(const std::filesystem::path& path) const;  // atomic; throws PlistWriteError or std::filesystem::filesystem_error

    std::size_t hash() const;
    bool operator==(const PlistFile& other) const = default;

    PlistDictionary root;
    PlistFormat format = PlistFormat::xml;
};

}  // namespace qw
