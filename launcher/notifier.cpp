#include "launcher/notifier.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QFileInfo>
#include <QVariantMap>

namespace {

// A notification server that does not answer in this time is taken as none.
constexpr int callTimeoutMs = 3000;

// The session bus. Without an address given, libdbus would look for a bus by starting dbus-launch
// on the X display: a launcher started outside a session must not leave a bus daemon behind, so
// only the address given or the user's own bus socket count. Not connected where there is neither.
QDBusConnection sessionBus()
{
    if (!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
        return QDBusConnection::sessionBus();
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    const QString socket = runtime + QStringLiteral("/bus");
    if (runtime.isEmpty() || !QFileInfo::exists(socket))
        return QDBusConnection(QStringLiteral("poraddr-launch-none"));
    return QDBusConnection::connectToBus(QStringLiteral("unix:path=") + socket,
                                         QStringLiteral("poraddr-launch-session"));
}

} // namespace

QString DesktopNotifier::applicationName()
{
    return QString::fromUtf8("ぽるてアドレス帳");
}

bool DesktopNotifier::notify(const QString &summary, const QString &body)
{
    QDBusConnection bus = sessionBus();
    if (!bus.isConnected())
        return false;
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    const QString appId = QStringLiteral(PORADDR_APP_ID);
    QVariantMap hints;
    hints.insert(QStringLiteral("desktop-entry"), appId);
    call << applicationName() << uint(shownId_) << appId << summary << body << QStringList() << hints
         << qint32(-1);
    const QDBusMessage reply = bus.call(call, QDBus::Block, callTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage)
        return false;
    shownId_ = reply.arguments().value(0).toUInt();
    return true;
}
