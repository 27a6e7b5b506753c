#include "app/application_identity.h"

#include "res/product.h"

#include <QGuiApplication>

void describeApplication() {
    QCoreApplication::setApplicationName(QStringLiteral("Kalvosan"));
    QCoreApplication::setOrganizationName(QStringLiteral("Brisgal"));
    QCoreApplication::setApplicationVersion(QStringLiteral(KALVOSAN_VERSION));
    // Desktop shells find the window's entry (its name and icon in the taskbar) by this id;
    // the executable's name they fall back to is not the entry's.
    QGuiApplication::setDesktopFileName(QStringLiteral(KALVOSAN_APP_ID));
}
