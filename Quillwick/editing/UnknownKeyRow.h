// UnknownKeyRow: one key of the job file that the catalogue does not know — its name, a "private"
// badge for Apple's underscore keys, the spelling it may have meant, and its value's summary, shown
// read-only with a remove button.
#pragma once

#include <functional>
#include <optional>

#include <QWidget>

#include "helperkit/PlistValue.h"

class QLabel;

namespace qw {

class UnknownKeyRow : public QWidget {
    Q_OBJECT
public:
    UnknownKeyRow(const QString& name, const std::optional<PlistValue>& value, bool isEditable,
                  std::function<void()> onRemove, QWidget* parent = nullptr);

    void setValue(const std::optional<PlistValue>& value);

private:
    QLabel* value_;
};

}  // namespace qw
