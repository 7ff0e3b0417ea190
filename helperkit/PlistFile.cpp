#include "helperkit/PlistFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "helperkit/AtomicFile.h"

namespace qw {
namespace {

std::string describe(PlistFile::ReadError::Kind kind, const std::filesystem::path& url, const std::string& underlying) {
    const std::string name = url.filename().string();
    if (kind == PlistFile::ReadError::Kind::unreadable) return "Could not read " + name + ": " + underlying;
    return name + " is a property list, but not a dictionary. A launchd job has to be a dictionary of keys at the top level.";
}

// Job files are small; anything this large is not one, and reading it whole could exhaust memory.
constexpr std::size_t largestFile = 32u << 20;

std::string errorText(int error) { return std::error_code(error, std::generic_category()).message() + "."; }

}  // namespace

PlistFile::ReadError::ReadError(Kind kind, std::filesystem::path url, std::string underlying)
    : std::runtime_error(describe(kind, url, underlying)),
      kind_(kind),
      url_(std::move(url)),
      underlying_(std::move(underlying)) {}

PlistFile PlistFile::read(const std::filesystem::path& url) {
    using Kind = ReadError::Kind;
    // Non-blocking, so that a FIFO in a job folder cannot stall the reader on open.
    const int fd = ::open(url.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) throw ReadError(Kind::unreadable, url, errorText(errno));
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        const int error = errno;
        ::close(fd);
        throw ReadError(Kind::unreadable, url, errorText(error));
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        throw ReadError(Kind::unreadable, url, S_ISDIR(st.st_mode) ? errorText(EISDIR) : "Not a regular file.");
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
            throw ReadError(Kind::unreadable, url, errorText(error));
        }
        if (n == 0) break;
        bytes.append(buffer, static_cast<std::size_t>(n));
        if (bytes.size() > largestFile) {
            ::close(fd);
            throw ReadError(Kind::unreadable, url, "The file is too large to be a property list.");
        }
    }
    ::close(fd);
    return fromData(bytes, url);
}

PlistFile PlistFile::fromData(std::string_view bytes, const std::filesystem::path& url) {
    PlistCodec::Parsed parsed;
    try {
        parsed = PlistCodec::read(bytes);
    } catch (const PlistParseError& e) {
        throw ReadError(ReadError::Kind::unreadable, url, e.what());
    }
    PlistDictionary* root = parsed.empty ? nullptr : parsed.value.dictionaryValue();
    if (!root) throw ReadError(ReadError::Kind::notADictionary, url);
    return PlistFile(std::move(*root), parsed.format);
}

PlistFile PlistFile::fromText(std::string_view text, const std::filesystem::path& url) { return fromData(text, url); }

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

void PlistFile::write(const std::filesystem::path& url) const { writeFileAtomically(url, data()); }

std::size_t PlistFile::hash() const {
    const std::size_t h = root.hash();
    return h ^ (static_cast<std::size_t>(format) + 0x9E3779B97F4A7C15ull + (h << 6) + (h >> 2));
}

}  // namespace qw
