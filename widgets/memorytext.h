#pragma once

#include <QString>
#include <QtGlobal>

// The About box's memory figures.

// totalBytes / 1024 rounded to a whole number (halves up), in groups of three digits, then " KB":
// 133169152 -> "130,048 KB". A quotient that rounds to 0 gives " KB" alone. The separator is
// localeSeparator when it is a single byte in the program's code page (CP932), "," otherwise.
QString formatKilobytes(quint64 totalBytes, const QString &localeSeparator);

// 37 -> "37 %".
QString formatMemoryLoad(int load);
