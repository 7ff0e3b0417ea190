// QuillwickApp: the application object. It makes the one AppServices at start and keeps it for the
// run, and owns the program's windows: any number of main windows, the single Settings window and
// the single "Send Feedback" window. The program quits when its last main window closes.
#pragma once

#include <memory>
#include <vector>

#include <QObject>
#include <QPointer>
#include <QWidget>

#include "Quillwick/app/ContentView.h"

namespace qw {

class AppServices;

class QuillwickApp : public QObject {
    Q_OBJECT
public:
    explicit QuillwickApp(QObject* parent = nullptr);
    ~QuillwickApp() override;

    AppServices& services() { return *services_; }

    ContentView* newMainWindow();
    void showSettings();
    // Opens the one feedback window, or brings it forward.
    void openWindow(const QString& identifier);
    // Quit: closes the main windows one by one as their close buttons do, so a window with unsaved
    // edits asks first; Cancel there ends the quit, the other answers go on with it.
    void requestQuit();

    const std::vector<QPointer<ContentView>>& mainWindows() const { return mainWindows_; }
    QWidget* settingsWindow() const { return settings_; }
    QWidget* feedbackWindow() const { return feedback_; }

    static QuillwickApp* instance();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void addMenus(ContentView* window);
    // With the last main window gone: closes the other windows and quits.
    void endProgram();
    void closeNextForQuit();

    std::unique_ptr<AppServices> services_;
    std::vector<QPointer<ContentView>> mainWindows_;
    QPointer<QWidget> settings_;
    QPointer<QWidget> feedback_;
    bool quitting_ = false;
};

}  // namespace qw
