// KeepAliveEditor: the KeepAlive setting as three modes (do not restart, always, when…) with the four
// conditions it can edit as checkboxes, and a sentence saying what the job will do. What it shows is
// always the value it holds: "Restart when…" with nothing ticked is conditions with none set.
#pragma once

#include <QWidget>

#include "Quillwick/launchd/KeepAlive.h"

class QButtonGroup;
class QCheckBox;
class QLabel;
class QWidget;

namespace qw {

class KeepAliveEditor : public QWidget {
    Q_OBJECT
public:
    explicit KeepAliveEditor(QWidget* parent = nullptr);

    const KeepAlive& keepAlive() const { return value_; }
    void setKeepAlive(const KeepAlive& value);
    void setEditable(bool editable);

signals:
    void keepAliveEdited(const KeepAlive& value);

private:
    void chooseMode(int mode);
    void tick(int condition, bool on);
    void update();

    KeepAlive value_;
    QButtonGroup* modes_;
    QWidget* conditions_;
    QList<QCheckBox*> boxes_;
    QLabel* note_;
    QLabel* summary_;
};

}  // namespace qw
