// LogTail: follows one output file of a job (its StandardOutPath or StandardErrorPath) and keeps its
// last 2000 lines for the Log tab. The first read takes at most the file's last 64 KiB; after that a poll
// every second appends what was added, at most 64 KiB of it. A line is shown once its line feed has
// arrived, or once two polls have brought nothing more (a program's last words often lack one); such a
// line is completed in place when the rest comes. Lines longer than maximumLineBytes are broken. A file
// that is missing or unreadable is tried again on every poll; one that shrinks is read again from its
// start, and one replaced at the path (rotated) is reopened. Only regular files are opened, without
// blocking. Main thread only; polling stops with the object.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "Quillwick/store/RegularFile.h"

namespace qw {

class LogTail : public QObject {
    Q_OBJECT
public:
    static constexpr int maximumLines = 2000;
    static constexpr std::size_t maximumLineBytes = 8192;  // a longer line is broken
    static constexpr std::uint64_t readLimit = 65536;

    explicit LogTail(QString path, QObject* parent = nullptr);

    const QStringList& lines() const { return lines_; }
    const std::optional<QString>& error() const { return error_; }
    const QString& path() const { return path_; }
    bool isRunning() const { return timer_.isActive(); }

    // Stops, reads the file afresh, then polls every second until stopped or destroyed.
    void start();
    // Ends the poll and closes the file.
    void stop();

    // The steps start() and the poll are made of; public so that a caller can drive them at its pace.
    void read(bool initial);
    void poll();
    void append(std::string_view bytes, bool dropFirst);

signals:
    void linesChanged();
    void errorChanged();

private:
    void setError(std::optional<QString> error);
    void readFrom(std::uint64_t start, std::uint64_t size, bool dropFirst);
    void showLine(std::string_view bytes);
    // The file starts afresh (or is skipped ahead): a shown cut line stays as it is, an unshown one is
    // shown when `keep`, dropped otherwise.
    void endPartialLine(bool keep);

    QStringList lines_;
    std::optional<QString> error_;
    QString path_;
    std::optional<RegularFile> handle_;
    std::uint64_t offset_ = 0;
    std::string partialLine_;          // bytes after the last line feed, waiting for theirs
    bool partialShown_ = false;        // partialLine_ is shown as the last line
    int quietPolls_ = 0;               // polls in a row that brought nothing
    bool discardingToNewline_ = false; // reading began inside a line
    std::size_t discarded_ = 0;        // of that line, dropped so far
    QTimer timer_;
};

}  // namespace qw
