#include "Quillwick/store/LogTail.h"

#include <sys/stat.h>

#include <cerrno>
#include <system_error>

namespace qw {

LogTail::LogTail(QString path, QObject* parent) : QObject(parent), path_(std::move(path)) {
    timer_.setInterval(1000);
    connect(&timer_, &QTimer::timeout, this, &LogTail::poll);
}

void LogTail::start() {
    stop();
    read(true);
    timer_.start();
}

void LogTail::stop() {
    timer_.stop();
    handle_.reset();
}

void LogTail::setError(std::optional<QString> error) {
    if (error_ == error) return;
    error_ = std::move(error);
    emit errorChanged();
}

void LogTail::read(bool initial) {
    if (!lines_.isEmpty()) {
        lines_.clear();
        emit linesChanged();
    }
    handle_.reset();
    offset_ = 0;
    partialLine_.clear();
    partialShown_ = false;
    quietPolls_ = 0;
    discardingToNewline_ = false;

    // The error is set only once its new text is known: a file that stays missing is tried on every poll,
    // and the Log tab redraws on every change.
    const QByteArray local = path_.toLocal8Bit();
    struct stat st {};
    if (::stat(local.constData(), &st) != 0 && errno == ENOENT) {
        setError(path_ + " does not exist yet. launchd creates the file the first time the program writes to it — "
                         "and only if the folder around it already exists.");
        return;
    }
    handle_ = RegularFile::open(local.constData());
    if (!handle_) {
        setError(path_ + " cannot be read. It may belong to another user — a daemon's log usually belongs to root.");
        return;
    }
    setError(std::nullopt);
    const std::uint64_t size = handle_->size().value_or(0);
    const std::uint64_t start = initial && size > readLimit ? size - readLimit : 0;
    readFrom(start, size, start != 0);
}

void LogTail::readFrom(std::uint64_t start, std::uint64_t size, bool dropFirst) {
    std::string bytes;
    try {
        bytes = handle_->read(start, static_cast<std::size_t>(size - start));
    } catch (const std::system_error&) {
        return;  // tried again at the next poll
    }
    offset_ = start + bytes.size();
    append(bytes, dropFirst);
}

void LogTail::poll() {
    if (!handle_) {
        // Missing or unreadable at the last try: the file may be there now.
        read(true);
        return;
    }
    const QByteArray local = path_.toLocal8Bit();
    struct stat st {};
    if (::stat(local.constData(), &st) != 0) {
        read(false);
        return;
    }
    const auto identity = handle_->identity();
    if (!identity || identity->first != st.st_dev || identity->second != st.st_ino) {
        // Rotated: another file stands at the path now; follow it from its start.
        auto reopened = RegularFile::open(local.constData());
        if (!reopened) {
            read(false);
            return;
        }
        handle_ = std::move(reopened);
        offset_ = 0;
        endPartialLine(true);
    }
    const std::uint64_t size = handle_->size().value_or(0);
    if (size < offset_) {
        offset_ = 0;
        endPartialLine(true);
    }
    if (size - offset_ > readLimit) {
        readFrom(size - readLimit, size, true);  // fallen far behind: keep to the newest text
    } else if (offset_ < size) {
        readFrom(offset_, size, false);
    } else if (!partialLine_.empty() && !partialShown_ && ++quietPolls_ >= 2) {
        // The program has stopped writing, perhaps for good: show what it left without a line feed.
        showLine(partialLine_);
        partialShown_ = true;
        emit linesChanged();
    }
}

void LogTail::endPartialLine(bool keep) {
    if (keep && !partialLine_.empty() && !partialShown_) {
        showLine(partialLine_);
        emit linesChanged();
    }
    partialLine_.clear();
    partialShown_ = false;
    quietPolls_ = 0;
    discardingToNewline_ = false;
}

void LogTail::showLine(std::string_view bytes) {
    QString line = QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
    if (partialShown_) {
        lines_.last() = std::move(line);  // the cut line shown earlier, now whole
        partialShown_ = false;
        return;
    }
    lines_.append(std::move(line));
    if (lines_.size() > maximumLines) lines_.erase(lines_.begin(), lines_.end() - maximumLines);
}

namespace {

bool continuationByte(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// Where to break a line longer than the cap: at the cap, moved back to the start of a UTF-8 sequence.
std::size_t breakPoint(std::string_view line) {
    std::size_t at = LogTail::maximumLineBytes;
    for (int back = 0; back < 3 && continuationByte(line[at]); ++back) --at;
    return continuationByte(line[at]) ? LogTail::maximumLineBytes : at;
}

}  // namespace

void LogTail::append(std::string_view bytes, bool dropFirst) {
    if (bytes.empty()) return;
    quietPolls_ = 0;
    if (dropFirst) {
        endPartialLine(false);
        discardingToNewline_ = true;
        discarded_ = 0;
    }
    if (discardingToNewline_) {
        // Drop the cut line, but no more of it than one broken piece: what follows is shown.
        const std::size_t room = maximumLineBytes - discarded_;
        const auto newline = bytes.find('\n');
        if (newline != std::string_view::npos && newline < room) {
            bytes.remove_prefix(newline + 1);
        } else if (bytes.size() < room) {
            discarded_ += bytes.size();
            return;
        } else {
            bytes.remove_prefix(room);
            while (!bytes.empty() && continuationByte(bytes.front())) bytes.remove_prefix(1);
        }
        discardingToNewline_ = false;
    }

    // A cut line, or a UTF-8 sequence cut by the read, waits for the rest.
    std::string text = std::move(partialLine_);
    text.append(bytes);
    std::string_view rest = text;
    bool changed = false;
    const auto breakLong = [&](std::string_view& line) {
        while (line.size() > maximumLineBytes) {
            const std::size_t at = breakPoint(line);
            showLine(line.substr(0, at));
            line.remove_prefix(at);
            changed = true;
        }
    };
    for (auto newline = rest.find('\n'); newline != std::string_view::npos; newline = rest.find('\n')) {
        std::string_view line = rest.substr(0, newline);
        breakLong(line);
        showLine(line);
        changed = true;
        rest.remove_prefix(newline + 1);
    }
    breakLong(rest);
    partialLine_.assign(rest);
    if (partialShown_) {
        showLine(partialLine_);  // still cut, but longer
        partialShown_ = true;
        changed = true;
    }
    if (changed) emit linesChanged();
}

}  // namespace qw
