#include "identity.h"
#include "sandpilewindow.h"

#include <QApplication>
#include <QFont>

int main(int argc, char **argv)
{
    QApplication application(argc, argv);
    QApplication::setFont(QFont(QStringLiteral("helvetica"), 12, QFont::Normal, false));
    setDesktopIdentity();

    SandpileWindow window;
    window.setGeometry(SandpileWindow::INITIAL_GEOMETRY);
    window.setWindowTitle(QStringLiteral("BTW model on a square lattice"));
    window.show();
    return application.exec();
}
