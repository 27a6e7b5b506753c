#include "app/about_dialog.h"

#include "app/link_label.h"
#include "platform/dialog_builder.h"
#include "res/control_ids.h"

#include <QLabel>
#include <QPushButton>

AboutDialog::AboutDialog(QWidget *parent) : QDialog(parent) {
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    const DialogBuilder builder(res::aboutDialogTemplate());
    m_items = builder.build(this);
    const auto attach = [this](int id, const QString &target) {
        auto *link = new LinkLabel(qobject_cast<QLabel *>(m_items.value(id)));
        link->setTarget(target);
        m_items.insert(id, link);
        return link;
    };
    m_supportLink = attach(ctl::about::SupportIcon, QString::fromLatin1(res::kSupportPage));
    m_webLink = attach(ctl::about::WebSite, QString::fromLatin1(res::kWebSite));
    m_mailLink =
        attach(ctl::about::Mail, QStringLiteral("mailto:") + QLatin1String(res::kMailAddress));
    auto *ok = qobject_cast<QPushButton *>(m_items.value(ctl::about::Ok));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}
