#include "Quillwick/editing/UnknownKeyRow.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QToolButton>

#include "Quillwick/editing/FormBits.h"
#include "Quillwick/launchd/LaunchdSchema.h"
#include "Quillwick/ui/Style.h"

namespace qw {

namespace {

// Keeps both ends of a long value visible.
class ElidedLabel : public QLabel {
public:
    using QLabel::QLabel;
    void setFullText(const QString& text) {
        full_ = text;
        setToolTip(text.toHtmlEscaped());
        refit();
    }

protected:
    void resizeEvent(QResizeEvent* event) override {
        QLabel::resizeEvent(event);
        refit();
    }
    QSize minimumSizeHint() const override { return QSize(40, QLabel::minimumSizeHint().height()); }

private:
    void refit() { setText(fontMetrics().elidedText(full_, Qt::ElideMiddle, width())); }
    QString full_;
};

}  // namespace

UnknownKeyRow::UnknownKeyRow(const QString& name, const std::optional<PlistValue>& value, bool isEditable,
                             std::function<void()> onRemove, QWidget* parent)
    : QWidget(parent) {
    setObjectName(QStringLiteral("unknown:") + name);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 2, 0, 2);
    row->setSpacing(6);
    auto* label = new QLabel(name, this);
    label->setTextFormat(Qt::PlainText);
    label->setFont(monospaceFont());
    row->addWidget(label);
    if (name.startsWith(QLatin1Char('_'))) row->addWidget(FormBits::badge(QStringLiteral("private"), secondaryColor(), this));
    const auto& typos = LaunchdSchema::typos();
    if (auto it = typos.find(name.toStdString()); it != typos.end()) {
        auto* hint = FormBits::caption(QStringLiteral("did you mean ") + QString::fromStdString(it->second) + QStringLiteral("?"),
                                       orangeColor(), this);
        hint->setObjectName(QStringLiteral("typoHint"));
        hint->setWordWrap(false);
        row->addWidget(hint);
    }
    auto* shown = new ElidedLabel(this);
    shown->setObjectName(QStringLiteral("value"));
    shown->setTextFormat(Qt::PlainText);
    shown->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    FormBits::setTextColor(shown, secondaryColor());
    value_ = shown;
    row->addWidget(shown, 1);
    if (isEditable) {
        auto* minus = FormBits::iconButton(QStringLiteral("minus.circle"), QStringLiteral("Remove ") + name, this);
        minus->setObjectName(QStringLiteral("removeButton"));
        connect(minus, &QToolButton::clicked, this, [onRemove = std::move(onRemove)] { onRemove(); });
        row->addWidget(minus);
    }
    setValue(value);
}

void UnknownKeyRow::setValue(const std::optional<PlistValue>& value) {
    static_cast<ElidedLabel*>(value_)->setFullText(value ? QString::fromStdString(value->summary()) : QString());
}

}  // namespace qw
