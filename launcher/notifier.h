#pragma once

#include <QString>

// Desktop notifications through org.freedesktop.Notifications on the session bus. Where there is
// no session bus, or nobody answers on it, nothing is shown and nothing fails.
class DesktopNotifier {
public:
    // Shows summary and body under the program's name and icon, in place of the notification
    // this notifier showed last (so a user sees one at a time). False when none could be shown.
    bool notify(const QString &summary, const QString &body);

    // The application name the notifications carry.
    static QString applicationName();

private:
    unsigned shownId_ = 0;
};
