// Updater: the application's one wrapper around the update framework. It decides whether an updater
// runs at all (a valid update key in the Info.plist, and not a test process), starts it, and
// republishes whether a check can start now and whether checks run automatically.
#pragma once

#include <functional>
#include <memory>

#include <QObject>

#include "Quillwick/platform/gui/UpdaterBackend.h"
#include "helperkit/PlistValue.h"

namespace qw {

class Updater : public QObject {
    Q_OBJECT
public:
    using BackendFactory = std::function<std::unique_ptr<UpdaterBackend>()>;

    // `info` is the bundle's information dictionary. The backend is made only when an updater is wanted.
    Updater(const PlistDictionary& info, bool isTestProcess, const BackendFactory& makeBackend,
            QObject* parent = nullptr);

    // The one instance, made on first use from the bundle's Info.plist, over the feed updater.
    static Updater& shared();

    // "SUPublicEDKey" is text in strict Base64 that decodes to exactly 32 bytes.
    static bool hasValidUpdateKey(const PlistDictionary& info);

    UpdaterBackend* controller() const { return controller_.get(); }
    bool canCheckForUpdates() const { return canCheckForUpdates_; }
    bool automaticallyChecksForUpdates() const { return automaticallyChecksForUpdates_; }
    void setAutomaticallyChecksForUpdates(bool on);
    void checkForUpdates();

signals:
    void canCheckForUpdatesChanged(bool canCheck);
    void automaticallyChecksForUpdatesChanged(bool on);

private:
    std::unique_ptr<UpdaterBackend> controller_;
    bool canCheckForUpdates_ = false;
    bool automaticallyChecksForUpdates_ = false;
};

}  // namespace qw
