#include "Quillwick/app/QuillwickApp.h"

#include <QApplication>
#include <QGuiApplication>
#include <QMenuBar>
#include <QScreen>
#include <QVBoxLayout>

#include "Quillwick/app/AppServices.h"
#include "Quillwick/app/ContentView.h"
#include "Quillwick/app/SettingsView.h"
#include "Quillwick/app/UpdaterControls.h"
#include "Quillwick/feedback/FeedbackView.h"
#include "Quillwick/app/Updater.h"

namespace qw {
namespace {
QuillwickApp* theApp = nullptr;

// The platform's keys, and the one every desktop here uses, whichever scheme the platform reports.
QList<QKeySequence> withKey(QKeySequence::StandardKey standard, QKeySequence key) {
    QList<QKeySequence> keys = QKeySequence::keyBindings(standard);
    if (!keys.contains(key))
        keys << key;
    return keys;
}
}

QuillwickApp::QuillwickApp(QObject* parent) : QObject(parent), services_(std::make_unique<AppServices>()) {
    theApp = this;
}

QuillwickApp::~QuillwickApp() {
    for (auto& w : mainWindows_)
        delete w.data();
    delete settings_.data();
    delete feedback_.data();
    if (theApp == this)
        theApp = nullptr;
}

QuillwickApp* QuillwickApp::instance() { return theApp; }

ContentView* QuillwickApp::newMainWindow() {
    auto* window = new ContentView(*services_);
    mainWindows_.emplace_back(window);
    addMenus(window);
    // A widget announces its destruction before its guarded pointers clear: the closing window is
    // still in the list then, so it is taken out by its address.
    connect(window, &QObject::destroyed, this, [this, window](QObject*) {
        std::erase_if(mainWindows_, [window](const QPointer<ContentView>& w) { return w.isNull() || w.data() == window; });
        // No Dock here to open another from: the last main window ends the program, and the other
        // windows go with it.
        if (!mainWindows_.empty()) {
            if (quitting_)
                closeNextForQuit();
            return;
        }
        endProgram();
    });
    connect(window, &ContentView::closeDeclined, this, [this] { quitting_ = false; });
    window->resize(1180, 720);
    window->show();
    return window;
}

void QuillwickApp::addMenus(ContentView* window) {
    QMenuBar* bar = window->menuBar();
    QMenu* app = bar->addMenu("&Quillwick");
    app->addAction(makeCheckForUpdatesAction(Updater::shared(), app));
    app->addAction(makeAutomaticUpdatesAction(Updater::shared(), app));
    app->addSeparator();
    QAction* settings = app->addAction("Settings…", this, &QuillwickApp::showSettings);
    settings->setShortcut(QKeySequence::Preferences);
    settings->setMenuRole(QAction::PreferencesRole);
    app->addAction("Send Feedback…", this, [this] { openWindow("feedback"); });
    app->addSeparator();
    QAction* quit = app->addAction("Quit Quillwick", this, &QuillwickApp::requestQuit);
    quit->setObjectName("quitAction");
    quit->setShortcuts(withKey(QKeySequence::Quit, Qt::CTRL | Qt::Key_Q));

    QMenu* file = bar->addMenu("&File");
    file->addAction(window->newAction());
    // New Job holds Ctrl+N, so the platform's New Window moves to Ctrl+Shift+N.
    QAction* newWindow = file->addAction("New Window", this, [this] { newMainWindow(); });
    newWindow->setObjectName("newWindowAction");
    newWindow->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_N));
    QAction* close = file->addAction("Close Window", window, &QWidget::close);
    close->setObjectName("closeWindowAction");
    close->setShortcuts(withKey(QKeySequence::Close, Qt::CTRL | Qt::Key_W));
    QMenu* view = bar->addMenu("&View");
    view->addAction(window->refreshAction());
}

void QuillwickApp::requestQuit() {
    quitting_ = true;
    closeNextForQuit();
}

void QuillwickApp::closeNextForQuit() {
    for (const QPointer<ContentView>& window : std::vector(mainWindows_)) {
        // A closed window is hidden until it goes; its going carries the quit on.
        if (!window || !window->isVisible())
            continue;
        if (!window->close())
            return;  // it asks first, and its answer goes on with the quit or ends it
    }
}

void QuillwickApp::endProgram() {
    if (settings_)
        settings_->close();
    // A feedback message on its way is not dropped: its form stays in sight until the server answers.
    // Taken, the program ends; refused, the form shows the message and why, and closing it ends the program.
    if (feedback_ && feedback_->findChild<FeedbackView*>()->isSending()) {
        feedback_->show();
        feedback_->raise();
        feedback_->activateWindow();
        return;
    }
    if (feedback_)
        feedback_->close();
    QCoreApplication::quit();
}

bool QuillwickApp::eventFilter(QObject* watched, QEvent* event) {
    // Once the main windows are gone, the feedback form is all that keeps the program.
    if (watched == feedback_ && event->type() == QEvent::Close && mainWindows_.empty() &&
        !feedback_->findChild<FeedbackView*>()->isSending())
        QMetaObject::invokeMethod(this, &QuillwickApp::endProgram, Qt::QueuedConnection);
    return QObject::eventFilter(watched, event);
}

void QuillwickApp::showSettings() {
    if (!settings_) {
        settings_ = new SettingsView(*services_);
        settings_->setAttribute(Qt::WA_DeleteOnClose);
    }
    settings_->show();
    settings_->raise();
    settings_->activateWindow();
}

void QuillwickApp::openWindow(const QString& identifier) {
    if (identifier != "feedback")
        return;
    if (!feedback_) {
        auto* window = new QWidget(nullptr, Qt::Window);
        window->setObjectName("feedback");
        window->setWindowTitle("Send Feedback");
        // Kept when closed: a message still on its way comes back in it if the send fails.
        auto* layout = new QVBoxLayout(window);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSizeConstraint(QLayout::SetFixedSize);
        auto* form = new FeedbackView(window);
        layout->addWidget(form);
        connect(form, &FeedbackView::sendEnded, this, [this](bool sent) {
            if (sent && mainWindows_.empty())
                endProgram();
        });
        window->installEventFilter(this);
        feedback_ = window;
        window->adjustSize();
        if (QScreen* screen = QGuiApplication::primaryScreen())
            window->move(screen->availableGeometry().center() - window->rect().center());
    }
    feedback_->show();
    feedback_->raise();
    feedback_->activateWindow();
}

}  // namespace qw
