#pragma once

#include <QByteArray>
#include <QtGlobal>
#include <functional>

// Total physical memory in bytes and the share of it in use, 0 to 100.
struct MemoryStatus {
    quint64 totalPhys = 0;
    int memoryLoad = 0;
};

MemoryStatus GlobalMemoryStatus();

// From the text of /proc/meminfo (MemTotal and MemAvailable).
MemoryStatus parseMemInfo(const QByteArray &meminfo);

// Tests hand the About box figures of their own. Returns the source in force before; an empty
// source restores the operating system's figures.
using MemoryStatusSource = std::function<MemoryStatus()>;
MemoryStatusSource setMemoryStatusSource(MemoryStatusSource source);
