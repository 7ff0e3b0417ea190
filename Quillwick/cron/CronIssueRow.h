// CronIssueRow: one problem of a crontab entry — the severity's symbol, the title and the explanation,
// on a faint rounded panel.
#pragma once

#include <QFrame>

#include "Quillwick/launchd/Issue.h"

namespace qw {

class CronIssueRow : public QFrame {
    Q_OBJECT
public:
    explicit CronIssueRow(const Issue& issue, QWidget* parent = nullptr);
    const Issue& issue() const { return issue_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Issue issue_;
};

}  // namespace qw
