// Small pieces the editing views share: caption-sized labels in a given colour, borderless icon
// buttons and word badges. Text is always plain: it may come from a job file.
#pragma once

#include <exception>

#include <QColor>
#include <QHBoxLayout>
#include <QFrame>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QString>
#include <QToolButton>
#include <QVBoxLayout>

namespace qw::FormBits {

QLabel* caption(const QString& text, const QColor& color, QWidget* parent = nullptr);
// A borderless button showing only a symbol; the name doubles as tooltip and accessible name.
QToolButton* iconButton(const QString& symbol, const QString& name, QWidget* parent = nullptr);
// A small word on a rounded, faintly filled capsule.
QLabel* badge(const QString& word, const QColor& color, QWidget* parent = nullptr);
void setTextColor(QWidget* widget, const QColor& color);

// The frame of an editable list: its title with an Add button, the rows below, and an "Empty" note.
struct ListFrame {
    QVBoxLayout* stack;
    QToolButton* add;
    QVBoxLayout* rows;
    QLabel* empty;
};
ListFrame listFrame(const QString& title, QWidget* owner);
// Empties a list's rows; a row on its way out is hidden and loses its name, so tests never find it.
void clearRows(QVBoxLayout* rows);
// The sentence an error carries, or the fallback for one that carries none.
QString errorText(std::exception_ptr error, const QString& fallback);
// A thin horizontal rule between sections.
QFrame* divider(QWidget* parent);

// The bar under an editor, ending in a busy indicator, Revert and Save; the caller inserts its own
// controls at the start of `row`.
struct SaveBar {
    QWidget* bar;
    QHBoxLayout* row;
    QProgressBar* progress;
    QPushButton* revert;
    QPushButton* save;
};
SaveBar saveBar(QWidget* parent, const QString& objectName);

}  // namespace qw::FormBits
