#include "launcher/launcher.h"

#include <QCoreApplication>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    // Installed beside PorAddr and poraddr-sync; the lists are in that folder too.
    return launcher::runLauncher(QCoreApplication::applicationDirPath() + QLatin1Char('/'),
                                 app.arguments().mid(1));
}
