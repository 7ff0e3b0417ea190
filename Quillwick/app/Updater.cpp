#include "Quillwick/app/Updater.h"

#include <dlfcn.h>

#include "Quillwick/platform/gui/BundleInfo.h"
#include "Quillwick/platform/gui/FeedUpdater.h"
#include "Quillwick/ui/RevealFile.h"
#include "helperkit/Base64.h"

namespace qw {
namespace {

// A process that carries the Qt test runner is a test, found by the runner's name as a test case
// class is on the Mac; no updater starts there.
bool isTestProcess() { return dlsym(RTLD_DEFAULT, "_ZN5QTest4qRunEv") != nullptr; }

}  // namespace

Updater::Updater(const PlistDictionary& info, bool isTestProcess, const BackendFactory& makeBackend,
                 QObject* parent)
    : QObject(parent) {
    if (isTestProcess || !hasValidUpdateKey(info) || !makeBackend)
        return;
    controller_ = makeBackend();
    if (!controller_)
        return;
    automaticallyChecksForUpdates_ = controller_->automaticallyChecksForUpdates();
    canCheckForUpdates_ = controller_->canCheckForUpdates();
    connect(controller_.get(), &UpdaterBackend::canCheckForUpdatesChanged, this, [this](bool canCheck) {
        if (canCheck == canCheckForUpdates_)
            return;
        canCheckForUpdates_ = canCheck;
        emit canCheckForUpdatesChanged(canCheck);
    });
}

Updater& Updater::shared() {
    // Static initialisation is thread-safe, so concurrent first uses make one instance.
    static Updater* instance = new Updater(bundleInfo(), isTestProcess(), [] {
        FeedUpdater::Environment environment = FeedUpdater::Environment::standard();
        environment.reveal = [](QWidget* window, const QString& path) { revealFile(window, path); };
        environment.openLink = [](QWidget* window, const QUrl& url) { qw::openLink(window, url); };
        return std::make_unique<FeedUpdater>(bundleInfo(), std::move(environment));
    });
    return *instance;
}

bool Updater::hasValidUpdateKey(const PlistDictionary& info) {
    const PlistValue* key = info.find("SUPublicEDKey");
    const std::string* text = key ? key->stringPointer() : nullptr;
    if (!text)
        return false;
    const auto bytes = Base64::decode(*text);
    return bytes && bytes->size() == 32;
}

void Updater::setAutomaticallyChecksForUpdates(bool on) {
    if (on != automaticallyChecksForUpdates_) {
        automaticallyChecksForUpdates_ = on;
        emit automaticallyChecksForUpdatesChanged(on);
    }
    if (controller_)
        controller_->setAutomaticallyChecksForUpdates(on);
}

void Updater::checkForUpdates() {
    if (controller_)
        controller_->checkForUpdates();
}

}  // namespace qw
