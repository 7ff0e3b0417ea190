// AboutSettings: the application's icon, name, version, "A GUI for launchd.", the "Send Feedback…"
// button, the Website, Support and Privacy links and the copyright notice when the bundle has one.
#pragma once

#include <functional>

#include <QWidget>

namespace qw {

class AboutSettings : public QWidget {
    Q_OBJECT
public:
    // openWindow opens a window by its identifier ("feedback").
    explicit AboutSettings(std::function<void(const QString&)> openWindow, QWidget* parent = nullptr);
};

}  // namespace qw
