// CrontabStore: the one owner of the user's crontab inside the application (AppServices makes it,
// empty; the cron views load it). Reads by running crontab -l off the main thread and installs a whole
// new text through crontab -, then reads it back. Used on the main thread only; each observable field
// has a change signal that fires only when the value really changed.
//
// A save never loses what the user wrote: it is refused until a read has succeeded (or found no
// crontab), and refused, installing nothing, when the crontab on disk is no longer the text the edit
// was made on. The crontab is kept as bytes, so text that is not UTF-8 is written back as read.
#pragma once

#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>

#include "Quillwick/cron/Crontab.h"
#include "helperkit/Subprocess.h"

namespace qw {

class CrontabStore : public QObject {
    Q_OBJECT

public:
    // Why a save did not happen; what() is the sentence shown to the user.
    class CrontabError : public std::runtime_error {
    public:
        enum class Kind {
            rejected,             // crontab refused the text: message() is its own
            needsFullDiskAccess,  // macOS refused access
            notRead,              // no read has succeeded yet, so there is nothing to edit
            changedOutside,       // the crontab changed on disk since it was read
            unreadable,           // reading it again before installing failed: message()
            unsafeLine,           // a line would hold a line break or NUL, or a job an empty command
            busy,                 // another save is under way
        };
        CrontabError(Kind kind, std::string message = {});
        Kind kind() const { return kind_; }
        const std::string& message() const { return message_; }

    private:
        Kind kind_;
        std::string message_;
    };

    explicit CrontabStore(QObject* parent = nullptr);

    const Crontab& crontab() const { return crontab_; }
    bool isLoading() const { return loading_ > 0; }
    // No job lines: no crontab, or one of only comments and variables.
    bool isEmpty() const { return isEmpty_; }
    // The text of the last failed read.
    const std::optional<QString>& lastError() const { return lastError_; }
    bool needsFullDiskAccess() const { return needsFullDiskAccess_; }
    // While true a save would be refused: the cron controls disable themselves.
    bool isSaving() const { return saving_; }

    // Reads the crontab off the main thread. Overlapping reads apply in the order they were started:
    // an older one never replaces a newer one. `done` runs on the main thread after this read is over.
    void reload(std::function<void()> done = {});

    // Installs `edited` (an edit of crontab()) whole and reads it back. `done` runs on the main thread
    // with nothing on success (the store has reloaded by then), else the user-facing description.
    using SaveDone = std::function<void(const std::optional<QString>& failure)>;
    void save(const Crontab& edited, SaveDone done = {});

    // Opens the Full Disk Access pane of System Settings; nothing happens where nothing handles it.
    static void openFullDiskAccessSettings();
    static bool isAccessFailure(const QString& text);

    // The two runs of /usr/bin/crontab, blocking, outputs as bytes. runList gives nothing when the
    // program cannot start; runInstall throws Subprocess::Failure then.
    static std::optional<Subprocess::Result> runList();
    static Subprocess::Result runInstall(const std::string& text);

signals:
    void crontabChanged();
    void isLoadingChanged(bool loading);
    void isEmptyChanged(bool empty);
    void lastErrorChanged();
    void needsFullDiskAccessChanged(bool needed);
    void isSavingChanged(bool saving);

private:
    struct Read;
    void apply(const Read& read);
    void setCrontab(Crontab crontab);
    void setEmpty(bool empty);
    void setLastError(std::optional<QString> error);
    void setNeedsFullDiskAccess(bool needed);
    void setSaving(bool saving);
    void setLoading(int loading);

    Crontab crontab_;
    int loading_ = 0;
    bool isEmpty_ = true;
    std::optional<QString> lastError_;
    bool needsFullDiskAccess_ = false;
    bool saving_ = false;

    // What the last applied read found: nothing before any succeeded; within it, nothing for no crontab.
    std::optional<std::optional<std::string>> basis_;
    std::uint64_t readsStarted_ = 0;
    std::uint64_t readApplied_ = 0;
};

}  // namespace qw
