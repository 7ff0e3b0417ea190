#include "Quillwick/cron/CrontabStore.h"

#include <QFuture>
#include <QLoggingCategory>
#include <QThreadPool>
#include <QUrl>
#include <QtConcurrent/QtConcurrentRun>

#include <set>

#include "Quillwick/cron/CronText.h"
#include "Quillwick/platform/gui/DesktopServices.h"
#include "helperkit/SystemPaths.h"
#include "helperkit/Text.h"

Q_LOGGING_CATEGORY(lcCrontab, "com.tarnmoor.quillwick.crontab")

namespace qw {

namespace {

std::string crontabTool() { return SystemPaths::current().crontab().string(); }

std::string describe(CrontabStore::CrontabError::Kind kind, const std::string& message) {
    using Kind = CrontabStore::CrontabError::Kind;
    switch (kind) {
    case Kind::rejected: return message.empty() ? "crontab refused the file." : "crontab refused the file: " + message;
    case Kind::needsFullDiskAccess:
        return "macOS will not let Quillwick change your crontab until it has Full Disk Access.";
    case Kind::notRead:
        return "Quillwick has not read your crontab yet, so it will not replace it. Try again once the list has loaded.";
    case Kind::changedOutside:
        return "Your crontab changed outside Quillwick, so nothing was saved. The list now shows the crontab as it "
               "is; make your change again.";
    case Kind::unreadable: return "Nothing was saved: your crontab could not be read again first. " + message;
    case Kind::unsafeLine: return message;
    case Kind::busy: return "Another change to your crontab is still being saved. Try again when it is done.";
    }
    return message;
}

// Lines that came from the crontab as read may keep whatever bytes they hold; anything new may not
// hold a line break or NUL, which would write lines the user never saw.
std::optional<std::string> unsafeLine(const Crontab& edited, const std::optional<std::string>& basis) {
    const Crontab original = Crontab::parsing(basis.value_or(std::string()));
    std::set<std::string> readLines;
    std::set<std::string> readCommands;
    for (const auto& line : original.lines) {
        readLines.insert(line.text());
        if (line.kind() == Crontab::Line::Kind::job) readCommands.insert(line.cronJob().command);
    }
    const auto hasControl = [](std::string_view text) {
        return text.find('\r') != std::string_view::npos || text.find('\0') != std::string_view::npos;
    };
    for (const auto& line : edited.lines) {
        const std::string text = line.text();
        if (line.kind() == Crontab::Line::Kind::job && CronText::trimmed(line.cronJob().command).empty())
            return "Nothing was saved: a crontab entry needs a command.";
        bool safe = text.find('\n') == std::string::npos;
        if (safe && hasControl(text) && !readLines.contains(text)) {
            safe = line.kind() == Crontab::Line::Kind::job && readCommands.contains(line.cronJob().command) &&
                   !hasControl(line.cronJob().schedule.expression());
        }
        if (!safe)
            return "Nothing was saved: a line break or NUL character in an entry would add lines to your crontab "
                   "that you did not see.";
    }
    return std::nullopt;
}

// crontab refuses the whole file over one line and names it in its own terms: find that line and say
// why in the checks' words. Nothing when no entry has a schedule cron refuses.
std::optional<std::string> refusedLine(const Crontab& edited) {
    for (std::size_t i = 0; i < edited.lines.size(); ++i) {
        const Crontab::Line& line = edited.lines[i];
        if (line.kind() != Crontab::Line::Kind::job || line.cronJob().isDisabled) continue;
        const auto reason = line.cronJob().refusal();
        if (!reason) continue;
        // Quoted without the blanks around it, a CRLF file's carriage return among them.
        std::string text(Text::trimmedWhitespace(line.text()));
        if (text.size() > 80) {
            std::size_t cut = 80;
            while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
            text = text.substr(0, cut) + "…";
        }
        return "cron refuses line " + std::to_string(i + 1) + ", “" + text + "”: " + *reason;
    }
    return std::nullopt;
}

}  // namespace

CrontabStore::CrontabError::CrontabError(Kind kind, std::string message)
    : std::runtime_error(describe(kind, message)), kind_(kind), message_(std::move(message)) {}

// What one run of crontab -l found.
struct CrontabStore::Read {
    enum class Outcome { couldNotRun, text, none, denied, failed };
    Outcome outcome = Outcome::couldNotRun;
    std::string text;  // text: the crontab's bytes
    QString message;   // failed: the run's message

    static Read of(const Subprocess::Result& result) {
        Read read;
        if (result.exitStatus == 0) {
            read.outcome = Outcome::text;
            read.text = result.standardOutput;
        } else if (QString::fromUtf8(result.standardError).toLower().contains(QLatin1String("no crontab"))) {
            read.outcome = Outcome::none;
        } else if (isAccessFailure(QString::fromUtf8(result.standardError))) {
            read.outcome = Outcome::denied;
        } else {
            read.outcome = Outcome::failed;
            read.message = QString::fromUtf8(result.message());
        }
        return read;
    }
    // The crontab as text, nothing when there is none; only for `text` and `none`.
    std::optional<std::string> contents() const {
        return outcome == Outcome::text ? std::optional<std::string>(text) : std::nullopt;
    }
};

CrontabStore::CrontabStore(QObject* parent) : QObject(parent) {}

bool CrontabStore::isAccessFailure(const QString& text) {
    return text.contains(QLatin1String("operation not permitted"), Qt::CaseInsensitive) ||
           text.contains(QLatin1String("permission denied"), Qt::CaseInsensitive);
}

void CrontabStore::openFullDiskAccessSettings() {
    const QUrl url(QStringLiteral("x-apple.systempreferences:com.apple.settings.PrivacySecurity.extension?Privacy_AllFiles"));
    if (url.isValid()) openUrl(url);
}

std::optional<Subprocess::Result> CrontabStore::runList() {
    try {
        return Subprocess::runBytes(crontabTool(), {"-l"});
    } catch (const Subprocess::Failure&) {
        return std::nullopt;
    }
}

Subprocess::Result CrontabStore::runInstall(const std::string& text) {
    return Subprocess::runBytes(crontabTool(), {"-"}, text);
}

void CrontabStore::reload(std::function<void()> done) {
    const std::uint64_t number = ++readsStarted_;
    setLoading(loading_ + 1);
    QtConcurrent::run(QThreadPool::globalInstance(), [] {
        const auto result = runList();
        return result ? Read::of(*result) : Read{};
    }).then(this, [this, number, done = std::move(done)](const Read& read) {
        if (number > readApplied_) {
            readApplied_ = number;
            apply(read);
        }
        setLoading(loading_ - 1);
        if (done) done();
    });
}

void CrontabStore::apply(const Read& read) {
    switch (read.outcome) {
    case Read::Outcome::couldNotRun:
        setLastError(QString::fromStdString("Could not run " + crontabTool() + "."));
        return;
    case Read::Outcome::text:
    case Read::Outcome::none: {
        Crontab crontab = read.outcome == Read::Outcome::text ? Crontab::parsing(read.text) : Crontab();
        const bool empty = crontab.jobs().empty();
        basis_ = read.contents();
        setNeedsFullDiskAccess(false);
        setCrontab(std::move(crontab));
        setEmpty(empty);
        setLastError(std::nullopt);
        return;
    }
    case Read::Outcome::denied:
        setNeedsFullDiskAccess(true);
        setLastError(std::nullopt);
        return;
    case Read::Outcome::failed: setLastError(read.message); return;
    }
}

void CrontabStore::save(const Crontab& edited, SaveDone done) {
    const auto refuse = [this, &done](CrontabError::Kind kind, std::string message = {}) {
        const QString failure = QString::fromUtf8(CrontabError(kind, std::move(message)).what());
        QMetaObject::invokeMethod(this, [done, failure] { if (done) done(failure); }, Qt::QueuedConnection);
    };
    if (saving_) return refuse(CrontabError::Kind::busy);
    // Refused access is why nothing has been read: say that, not that the list is still loading.
    if (!basis_) return refuse(needsFullDiskAccess_ ? CrontabError::Kind::needsFullDiskAccess : CrontabError::Kind::notRead);
    if (auto problem = unsafeLine(edited, *basis_)) return refuse(CrontabError::Kind::unsafeLine, std::move(*problem));

    struct Outcome {
        std::optional<CrontabError> error;
        std::optional<QString> couldNotRun;
    };
    const std::optional<std::string> basis = *basis_;
    const std::string text = edited.text();
    const std::size_t jobs = edited.jobs().size();
    const std::optional<std::string> refused = refusedLine(edited);
    setSaving(true);
    QtConcurrent::run(QThreadPool::globalInstance(), [basis, text, refused]() -> Outcome {
        try {
            // Someone may have run crontab -e since the read this edit is based on.
            const Read current = Read::of(Subprocess::runBytes(crontabTool(), {"-l"}));
            if (current.outcome == Read::Outcome::denied) return {CrontabError(CrontabError::Kind::needsFullDiskAccess), {}};
            if (current.outcome == Read::Outcome::failed)
                return {CrontabError(CrontabError::Kind::unreadable, current.message.toStdString()), {}};
            if (current.contents() != basis) return {CrontabError(CrontabError::Kind::changedOutside), {}};

            const Subprocess::Result result = runInstall(text);
            if (result.exitStatus == 0) return {};
            if (isAccessFailure(QString::fromUtf8(result.standardError)))
                return {CrontabError(CrontabError::Kind::needsFullDiskAccess), {}};
            return {CrontabError(CrontabError::Kind::rejected, refused.value_or(result.message())), {}};
        } catch (const Subprocess::Failure& failure) {
            return {std::nullopt, QString::fromUtf8(failure.what())};
        }
    }).then(this, [this, jobs, done = std::move(done)](const Outcome& outcome) {
        const auto finish = [this, done](std::optional<QString> failure) {
            setSaving(false);
            if (done) done(failure);
        };
        if (outcome.couldNotRun) return finish(outcome.couldNotRun);
        if (!outcome.error) {
            qCInfo(lcCrontab, "wrote the user crontab (%ld jobs)", static_cast<long>(jobs));
            return reload([finish] { finish(std::nullopt); });
        }
        const QString failure = QString::fromUtf8(outcome.error->what());
        switch (outcome.error->kind()) {
        case CrontabError::Kind::needsFullDiskAccess: setNeedsFullDiskAccess(true); return finish(failure);
        case CrontabError::Kind::changedOutside: return reload([finish, failure] { finish(failure); });
        default: return finish(failure);
        }
    });
}

void CrontabStore::setCrontab(Crontab crontab) {
    if (crontab == crontab_) return;
    crontab_ = std::move(crontab);
    emit crontabChanged();
}

void CrontabStore::setEmpty(bool empty) {
    if (empty == isEmpty_) return;
    isEmpty_ = empty;
    emit isEmptyChanged(empty);
}

void CrontabStore::setLastError(std::optional<QString> error) {
    if (error == lastError_) return;
    lastError_ = std::move(error);
    emit lastErrorChanged();
}

void CrontabStore::setNeedsFullDiskAccess(bool needed) {
    if (needed == needsFullDiskAccess_) return;
    needsFullDiskAccess_ = needed;
    emit needsFullDiskAccessChanged(needed);
}

void CrontabStore::setSaving(bool saving) {
    if (saving == saving_) return;
    saving_ = saving;
    emit isSavingChanged(saving);
}

void CrontabStore::setLoading(int loading) {
    const bool was = isLoading();
    loading_ = loading;
    if (was != isLoading()) emit isLoadingChanged(isLoading());
}

}  // namespace qw
