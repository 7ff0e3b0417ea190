// DictionaryEditor: a map from text keys to text values under a heading, one row per key in
// character order. Keys are renamed in place (an empty or repeated key is refused, the old name comes
// back and the reason shows under it); "plus.circle" adds NEW_KEY, NEW_KEY_2, …. Every user action hands the
// owner one whole new map. Rebuilding the rows keeps the keyboard focus in them: on the renamed row's
// value, on the added key's name.
#pragma once

#include <map>
#include <string>

#include <QWidget>

class QLabel;
class QToolButton;
class QVBoxLayout;

namespace qw {

class DictionaryEditor : public QWidget {
    Q_OBJECT
public:
    using Entries = std::map<std::string, std::string>;

    explicit DictionaryEditor(const QString& title, QWidget* parent = nullptr);

    const Entries& entries() const { return entries_; }
    // From the owner: rows are rebuilt only when the keys change, so typing keeps its place. A map that
    // is what the owner keeps of the rows shown (see setWholeNumbers) changes nothing.
    void setEntries(const Entries& entries);
    void setEditable(bool editable);
    // Values must be whole numbers: a row whose value is not one stays, marked, and the owner leaves
    // it out of what it stores.
    void setWholeNumbers(bool wholeNumbers);

    void append();
    QString value(const QString& key) const;
    void setValue(const QString& text, const QString& key);
    void remove(const QString& key);
    // False, with the reason shown under the row, when the new key is empty or already used.
    bool rename(const QString& from, const QString& to);
    QString problem() const;
    // The row's value cannot be stored as it stands.
    bool isInvalid(const std::string& key) const;

signals:
    void entriesEdited(const Entries& entries);

private:
    // The field of a row that takes the focus after a rebuild.
    enum class Field { none, key, value };
    void rebuild(const QString& focusKey = {}, Field focusField = Field::none);
    void changed(const QString& focusKey = {}, Field focusField = Field::none);
    void markInvalidRows();
    // What the owner keeps of `entries`.
    Entries kept(const Entries& entries) const;

    QString title_;
    bool editable_ = true;
    bool wholeNumbers_ = false;
    Entries entries_;
    QToolButton* add_;
    QVBoxLayout* rows_;
    QLabel* empty_;
};

}  // namespace qw
