// UpdaterBackend: what the application relies on from an update framework — a standard updater that
// reports whether a user-initiated check can start, keeps the automatic-check setting and runs a
// check with its own windows. FeedUpdater stands in for the framework here.
#pragma once

#include <QObject>

namespace qw {

class UpdaterBackend : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~UpdaterBackend() override = default;

    virtual bool canCheckForUpdates() const = 0;
    virtual bool automaticallyChecksForUpdates() const = 0;
    virtual void setAutomaticallyChecksForUpdates(bool on) = 0;
    virtual void checkForUpdates() = 0;

signals:
    // Delivered on the main thread, with every new value.
    void canCheckForUpdatesChanged(bool canCheck);
};

}  // namespace qw
