#pragma once

#include <QString>

// The process id of a running copy of the program that holds its lock at lockPath and whose program
// file lives in folder; 0 when there is none. A live holder whose program file cannot be seen
// counts as running: a list written under a running copy would be lost at its close.
qint64 runningCopyIn(const QString &folder, const QString &lockPath);
