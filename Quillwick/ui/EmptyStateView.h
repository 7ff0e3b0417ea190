// EmptyStateView: the content-unavailable placeholder — a symbol, a title and a one-sentence
// description, centred in the space it is given.
#pragma once

#include <QString>
#include <QWidget>

class QLabel;
class QVBoxLayout;

namespace qw {

class EmptyStateView : public QWidget {
    Q_OBJECT
public:
    EmptyStateView(const QString& title, const QString& symbol, const QString& description,
                   QWidget* parent = nullptr);

    void setContent(const QString& title, const QString& symbol, const QString& description);

    QString title() const;
    QString symbol() const { return symbol_; }
    QString description() const;
    // Room under the description for the buttons some states offer.
    QVBoxLayout* actionsLayout() const { return actions_; }

private:
    QLabel* icon_;
    QLabel* title_;
    QLabel* description_;
    QVBoxLayout* actions_;
    QString symbol_;
};

}  // namespace qw
