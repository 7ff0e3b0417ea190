#include "Quillwick/app/AboutSettings.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "Quillwick/feedback/FeedbackService.h"
#include "Quillwick/platform/gui/BundleInfo.h"
#include "Quillwick/ui/RevealFile.h"
#include "Quillwick/ui/Style.h"
#include "Quillwick/ui/Symbols.h"

namespace qw {
namespace {

QLabel* label(const QString& text, QWidget* parent, const QString& name) {
    auto* l = new QLabel(text, parent);
    l->setObjectName(name);
    l->setTextFormat(Qt::PlainText);
    l->setAlignment(Qt::AlignHCenter);
    l->setWordWrap(true);
    return l;
}

void makeSecondary(QLabel* l) {
    QPalette pal = l->palette();
    pal.setColor(QPalette::WindowText, secondaryColor());
    l->setPalette(pal);
}

QString link(const QString& title, const QUrl& url) {
    return QString("<a href=\"%1\">%2</a>").arg(url.toString(QUrl::FullyEncoded).toHtmlEscaped(), title);
}

}  // namespace

AboutSettings::AboutSettings(std::function<void(const QString&)> openWindow, QWidget* parent) : QWidget(parent) {
    setObjectName("aboutSettings");
    const PlistDictionary& info = bundleInfo();
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(28, 28, 28, 28);
    layout->setSpacing(12);
    layout->addStretch(1);

    auto* icon = new QLabel(this);
    icon->setPixmap(QIcon::fromTheme("utilities-system-monitor", symbolIcon("gearshape.2")).pixmap(96, 96));
    icon->setAlignment(Qt::AlignHCenter);
    layout->addWidget(icon);

    const QString name = FeedbackService::appName();
    const QUrl website = FeedbackService::websiteURL();
    const QString host = FeedbackService::makerHost();
    auto* title = label(name, this, "aboutName");
    QFont f = title->font();
    f.setWeight(QFont::DemiBold);
    if (f.pointSizeF() > 0)
        f.setPointSizeF(f.pointSizeF() * 1.5);
    title->setFont(f);
    layout->addWidget(title);

    const QString version = QString::fromStdString(bundleString(info, "CFBundleShortVersionString").value_or("0"));
    const QString build = QString::fromStdString(bundleString(info, "CFBundleVersion").value_or("0"));
    auto* versionLabel = label("Version " + version + " (" + build + ")", this, "aboutVersion");
    makeSecondary(versionLabel);
    layout->addWidget(versionLabel);
    auto* blurb = label("A GUI for launchd.", this, "aboutBlurb");
    makeSecondary(blurb);
    layout->addWidget(blurb);

    layout->addSpacing(4);
    auto* feedback = new QPushButton("Send Feedback…", this);
    feedback->setObjectName("sendFeedbackButton");
    connect(feedback, &QPushButton::clicked, this, [openWindow] { openWindow("feedback"); });
    layout->addWidget(feedback, 0, Qt::AlignHCenter);

    if (!host.isEmpty() || website.isValid()) {
        const QString base = "https://" + host;
        auto* links = new QLabel(this);
        links->setObjectName("aboutLinks");
        links->setTextFormat(Qt::RichText);
        connect(links, &QLabel::linkActivated, this, [this](const QString& link) { openLink(this, QUrl(link)); });
        links->setAlignment(Qt::AlignHCenter);
        links->setText(link("Website", website) + "&nbsp;&nbsp;&nbsp;&nbsp;" + link("Support", QUrl(base + "/support")) +
                       "&nbsp;&nbsp;&nbsp;&nbsp;" + link("Privacy", QUrl(base + "/privacy")));
        links->setFont(captionFont());
        layout->addWidget(links);
    }

    if (const auto notice = bundleString(info, "NSHumanReadableCopyright")) {
        auto* copyright = label(QString::fromStdString(*notice), this, "aboutCopyright");
        copyright->setFont(captionFont());
        makeSecondary(copyright);
        layout->addWidget(copyright);
    }
    layout->addStretch(1);
}

}  // namespace qw
