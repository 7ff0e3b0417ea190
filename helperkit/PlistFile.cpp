#include "helperkit/PlistFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "helperkit/AtomicFile.h"

namespace qw {
namespace {

std::string describe(PlistFile::ReadError::Kind kind, const std::filesystem::path& path, const std::string& underlying) {
    const std::string name = path.filename().string();
    if (kind == PlistFile::ReadError::Kind::unreadable) return "Could not read " + name + ": " + underlying;
    return name + " is a property list, but not a dictionary. A launchd job has to be a dictionary of keys at the top level.";
}

// Job files are small; anything this large is not one, and reading it whole could exhaust memory.
constexpr std::size_t largestFile = 32u << 20;

std::string errorText(int error) { return std::error_code(error, std::generic_category()).message() + "."; }

}  // namespace

PlistFile::ReadError::ReadError(Kind kind, std::filesystem::path path, std::string underlying)
    : std::runtime_error(describe(kind, path, underlying)),
      kind_(kind),
      path_(std::move(path)),
      underlying_(std::move(underlying)) {}

PlistFile PlistFile::read(const std::filesystem::path& path) {
    using Kind = ReadError::Kind;
    // Non-blocking, so that a FIFO in a job folder cannot stall the reader on open.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) throw ReadError(Kind::unreadable, path, errorText(errno));
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        const int error = errno;
        ::close(fd);
        throw ReadError(Kind::unreadable, path, errorText(error));
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        throw ReadError(Kind::unreadable, path, S_ISDIR(st.st_mode) ? errorText(EISDIR) : "Not a regular file.");
    }
    std::string bytes;
    bytes.reserve(static_cast<std::size_t>(std::min<off_t>(st.st_size, largestFile)) + 1);
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) continue;
            const int error = errno;
            ::close(fd);
            throw ReadError(Kind::unreadable, path, errorText(error));
        }
        if (n == 0) break;
        bytes.append(buffer, static_cast<std::size_t>(n));
        if (bytes.size() > largestFile) {
            ::close(fd);
            throw ReadError(Kind::unreadable, path, "The file is too large to be a property list.");
        }
    }
    ::close(fd);
    return fromData(bytes, path);
}

PlistFile PlistFile::fromData(std::string_view bytes, const std::filesystem::path& path) {
    PlistCodec::Parsed parsed;
    try {
        parsed = PlistCodec::read(bytes);
    } catch (const PlistParseError& e) {
        throw ReadError(ReadError::Kind::unreadable, path, e.what());
    }
    PlistDictionary* root = parsed.empty ? nullptr : parsed.value.dictionaryValue();
    if (!root) throw ReadError(ReadError::Kind::notADictionary, path);
    return PlistFile(std::move(*root), parsed.format);
}

PlistFile PlistFile::fromText(std::string_view text, const std::filesystem::path& path) { return fromData(text, path); }

std::optional<PlistValue> PlistFile::operator[](std::string_view key) const {
    if (const PlistValue* v = root.find(key)) return *v;
    return std::nullopt;
}

void PlistFile::set(std::string key, std::optional<PlistValue> value) {
    if (value) root.set(std::move(key), std::move(*value));
    else root.erase(key);
}

std::string PlistFile::data() const { return PlistCodec::write(root, format); }

std::string PlistFile::xmlText() const { return PlistCodec::writeXml(root); }

void PlistFile::write(const std::filesystem::path& path) const { writeFileAtomically(path, data()); }

std::size_t PlistFile::hash() const {
    const std::size_t h = root.hash();
    return h ^ (static_cast<std::size_t>(format) + 0x9E3779B97F4A7C15ull + (h << 6) + (h >> 2));
}

}  // namespace qw
