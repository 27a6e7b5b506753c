#include "app/about_dialog.h"

#include "app/dialog_builder.h"
#include "app/link_label.h"

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
    m_supportLink = attach(1042, QString::fromLatin1(res::kSupportPage));
    m_webLink = attach(1043, QString::fromLatin1(res::kWebSite));
    m_mailLink = attach(1045, QStringLiteral("mailto:") + QLatin1String(res::kMailAddress));
    auto *ok = qobject_cast<QPushButton *>(m_items.value(1));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}
