#pragma once

#include <QString>

// The user locale's thousands separator as the system reports it, read at start and read again
// when the system announces a locale change.
QString SystemThousandsSeparator();
void RereadSystemLocale();
