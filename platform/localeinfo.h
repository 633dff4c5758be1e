#pragma once

#include <QString>
#include <functional>

class QObject;

// The user locale's thousands separator as the system reports it, read at start and read again
// when the system announces a locale change.
QString SystemThousandsSeparator();
void RereadSystemLocale();

// Calls RereadSystemLocale() whenever a QEvent::LocaleChange reaches the application; app is the
// application object (the watcher is its child and lives as long as it does).
void WatchLocaleChanges(QObject *app);

// Tests stand in for the system's locale. Returns the source in force before; an empty source
// restores QLocale::system(). The separator is not re-read until RereadSystemLocale().
using ThousandsSeparatorSource = std::function<QString()>;
ThousandsSeparatorSource SetThousandsSeparatorSource(ThousandsSeparatorSource source);
