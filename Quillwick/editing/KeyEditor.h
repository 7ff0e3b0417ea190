// KeyEditor: one row of the Configure tab — the control a catalogue key's shape calls for, over the
// draft, with the key's summary, its marks (deprecated, undocumented), a "More" explanation and a
// remove button. Writes into the draft through the binding only when the user changes something.
#pragma once

#include <optional>

#include <QWidget>

#include "Quillwick/editing/model/Binding.h"
#include "Quillwick/editing/model/KeyValues.h"
#include "Quillwick/launchd/JobDefinition.h"
#include "Quillwick/launchd/LaunchdSchema.h"

class QLabel;
class QToolButton;
class QVBoxLayout;

namespace qw {

class KeyEditor : public QWidget {
    Q_OBJECT
public:
    KeyEditor(const LaunchdSchema::Key& key, Binding<JobDefinition> definition, bool isEditable, QWidget* parent = nullptr);

    const LaunchdSchema::Key& key() const { return key_; }
    // The draft changed: the control shows the stored value again (and changes kind when the
    // value calls for another control).
    void refresh();
    void remove();
    bool showsDetail() const { return showsDetail_; }
    // The control placed for the key, for tests.
    QWidget* control() const { return control_; }
    KeyValues::Control controlKind() const { return kind_; }

private:
    void buildControl();
    void pushValue();
    template <typename F>
    void write(F&& change);
    std::optional<PlistValue> storedValue() const;
    // Why the integer field's text is not taken, or nothing when it is.
    std::optional<QString> integerProblem(const QString& text) const;
    // The integer field shows text not taken while the key keeps what it held before the typing.
    bool isHeldBack() const;
    void showIntegerProblem();

    const LaunchdSchema::Key& key_;
    Binding<JobDefinition> definition_;
    bool isEditable_;
    bool showsDetail_ = false;
    KeyValues::Control kind_;
    QVBoxLayout* controlSlot_;
    QWidget* control_ = nullptr;
    QLabel* detail_ = nullptr;
    QToolButton* more_ = nullptr;
    // What the key held when typing into its number began; absent while nobody types and nothing is held back.
    std::optional<std::optional<PlistValue>> typingFrom_;
};

}  // namespace qw
