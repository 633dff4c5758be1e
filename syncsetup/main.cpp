#include "store/listfiles.h"
#include "syncsetup/syncsetupwindow.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QGuiApplication::setDesktopFileName(QStringLiteral(PORADDR_APP_ID ".SyncSetup"));
    // The window's class under X11, which its menu entry names, whatever name it was started by.
    QCoreApplication::setApplicationName(QStringLiteral(PORADDR_SETUP_WM_CLASS));
    // The lists' folder: the one given, else the program's own (installed beside PorAddr).
    const QStringList args = QCoreApplication::arguments();
    QString dir = args.size() > 1 ? QFileInfo(args[1]).absoluteFilePath() : programDirectory();
    if (!dir.endsWith(QLatin1Char('/')))
        dir += QLatin1Char('/');
    SyncSetupWindow window(dir);
    window.show();
    return app.exec();
}
