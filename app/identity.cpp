#include "identity.h"

#include <QGuiApplication>
#include <QIcon>

void setDesktopIdentity()
{
    // The icon is compiled in, so the program shows it wherever it runs from.
    QGuiApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/sandpile.svg")));
    QGuiApplication::setDesktopFileName(QStringLiteral(SANDPILE_APP_ID));
}
