#pragma once

#include <QString>
#include <functional>

class QObject;

// The user locale's thousands separator as the system reports it, read at start and read again
// when the system announces a locale change.
QString systemThousandsSeparator();
void rereadSystemLocale();

// Calls rereadSystemLocale() whenever a QEvent::LocaleChange reaches the application; app is the
// application object (the watcher is its child and lives as long as it does).
void watchLocaleChanges(QObject *app);

// Tests stand in for the system's locale. Returns the source in force before; an empty source
// restores QLocale::system(). The separator is not re-read until rereadSystemLocale().
using ThousandsSeparatorSource = std::function<QString()>;
ThousandsSeparatorSource setThousandsSeparatorSource(ThousandsSeparatorSource source);
