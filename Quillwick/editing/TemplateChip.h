// TemplateChip: one template of the New Job sheet as a selectable card — its symbol, name, a lock
// when creating it asks for an administrator, and its one-sentence summary.
#pragma once

#include <QAbstractButton>

#include "Quillwick/editing/model/JobTemplate.h"

namespace qw {

class TemplateChip : public QAbstractButton {
    Q_OBJECT
public:
    TemplateChip(const JobTemplate& jobTemplate, QWidget* parent = nullptr);

    const JobTemplate& jobTemplate() const { return template_; }
    bool hasLock() const { return template_.needsAdministrator(); }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    const JobTemplate& template_;
};

}  // namespace qw
