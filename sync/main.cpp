#include "sync/synctool.h"

#include <QCoreApplication>
#include <QFile>

#include <cstdio>

namespace {

// The tool says what it has to say itself; Qt's own notes would break the one summary line.
void dropQtNotes(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type == QtCriticalMsg || type == QtFatalMsg)
        std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
}

} // namespace

int main(int argc, char **argv)
{
    qInstallMessageHandler(dropQtNotes);
    QCoreApplication app(argc, argv);
    QFile out, err;
    out.open(stdout, QIODevice::WriteOnly);
    err.open(stderr, QIODevice::WriteOnly);
    // Installed beside PorAddr: its folder is the one the lists are in.
    return runSyncTool(app.arguments().mid(1), QCoreApplication::applicationDirPath(), out, err,
                       makeConnection);
}
