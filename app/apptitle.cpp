#include "app/apptitle.h"

#include <QCoreApplication>
#include <QFileInfo>

const char *const MainTitleUtf8 = "ぽるてアドレス帳";

namespace {
// Empty until start-up sets it; the default title is derived on demand because the program's
// path is only known once the application object exists.
QString &storedTitle()
{
    static QString title;
    return title;
}
} // namespace

QString defaultTitle(const QString &programPath)
{
    QString name = QFileInfo(programPath).fileName();
    const qsizetype dot = name.indexOf(QLatin1Char('.'));
    if (dot >= 0)
        name.truncate(dot);
    if (name.size() > 1)
        name = name.left(1) + name.mid(1).toLower();
    return name;
}

QString applicationTitle()
{
    if (!storedTitle().isNull())
        return storedTitle();
    if (!QCoreApplication::instance())
        return QString();
    return defaultTitle(QCoreApplication::applicationFilePath());
}

// QGuiApplication::setApplicationDisplayName is deliberately not used: on X11 Qt appends the
// display name to every window caption, and the captions must stay exactly as designed.
void setApplicationTitle(const QString &title)
{
    storedTitle() = title;
}
