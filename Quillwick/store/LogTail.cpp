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
    setError(std::nullopt);
    handle_.reset();
    offset_ = 0;
    partialLine_.clear();
    discardingToNewline_ = false;

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
        partialLine_.clear();
        discardingToNewline_ = false;
    }
    const std::uint64_t size = handle_->size().value_or(0);
    if (size < offset_) {
        offset_ = 0;
        partialLine_.clear();
        discardingToNewline_ = false;
    }
    if (size - offset_ > readLimit)
        readFrom(size - readLimit, size, true);  // fallen far behind: keep to the newest text
    else if (offset_ < size)
        readFrom(offset_, size, false);
}

void LogTail::append(std::string_view bytes, bool dropFirst) {
    if (dropFirst) {
        partialLine_.clear();
        discardingToNewline_ = true;
    }
    if (discardingToNewline_) {
        const auto newline = bytes.find('\n');
        if (newline == std::string_view::npos) return;
        bytes.remove_prefix(newline + 1);
        discardingToNewline_ = false;
    }
    const auto lastNewline = bytes.rfind('\n');
    if (lastNewline == std::string_view::npos) {
        partialLine_.append(bytes);
        return;
    }
    // Whole lines only: a cut line, or a UTF-8 sequence cut by the read, waits for the rest.
    std::string complete = std::move(partialLine_);
    complete.append(bytes.substr(0, lastNewline));
    partialLine_.assign(bytes.substr(lastNewline + 1));

    std::string_view text = complete;
    for (;;) {
        const auto end = text.find('\n');
        const auto line = text.substr(0, end);
        lines_.append(QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size())));
        if (end == std::string_view::npos) break;
        text.remove_prefix(end + 1);
    }
    if (lines_.size() > maximumLines) lines_.erase(lines_.begin(), lines_.end() - maximumLines);
    emit linesChanged();
}

}  // namespace qw
