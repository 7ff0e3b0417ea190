// IssueCard: one problem of the Problems tab — its severity symbol, title and explanation, and the
// button of its repair when the job may be changed.
#pragma once

#include <functional>

#include <QFrame>

#include "Quillwick/launchd/Issue.h"

class QLabel;
class QProgressBar;
class QPushButton;

namespace qw {

class IssueCard : public QFrame {
    Q_OBJECT
public:
    IssueCard(Issue issue, bool isBusy, bool canFix, std::function<void()> onFix, QWidget* parent = nullptr);

    const Issue& issue() const { return issue_; }
    bool isBusy() const { return busy_; }
    void setBusy(bool busy);
    // None when the problem has no repair or the job may not be changed.
    QPushButton* fixButton() const { return fixButton_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Issue issue_;
    bool busy_ = false;
    QPushButton* fixButton_ = nullptr;
    QProgressBar* progress_;
};

}  // namespace qw
