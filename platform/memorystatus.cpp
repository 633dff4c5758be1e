#include "platform/memorystatus.h"

#include <QFile>
#include <limits>
#include <optional>
#include <sys/sysinfo.h>

namespace {
// The figure of one "Name:   12345 kB" line, in kibibytes.
std::optional<quint64> field(const QByteArray &meminfo, const QByteArray &name)
{
    const QByteArray key = name + ':';
    for (const QByteArray &line : meminfo.split('\n')) {
        if (!line.startsWith(key))
            continue;
        const QByteArray rest = line.mid(key.size()).trimmed();
        const qsizetype blank = rest.indexOf(' ');
        bool ok = false;
        const quint64 value = (blank < 0 ? rest : rest.left(blank)).toULongLong(&ok);
        if (ok)
            return value;
        return std::nullopt;
    }
    return std::nullopt;
}

int loadPercent(quint64 total, quint64 available)
{
    if (total == 0)
        return 0;
    if (available > total)
        available = total;
    // Rounded to the nearest whole percent; the factor 100 cannot overflow for any memory that
    // fits the kernel's own 64-bit counters, which are in kibibytes here.
    const quint64 used = total - available;
    return static_cast<int>((used * 100 + total / 2) / total);
}

MemoryStatus fromSysinfo()
{
    MemoryStatus status;
    struct sysinfo info {};
    if (sysinfo(&info) != 0)
        return status;
    const quint64 unit = info.mem_unit ? info.mem_unit : 1;
    status.totalPhys = quint64(info.totalram) * unit;
    const quint64 available = (quint64(info.freeram) + quint64(info.bufferram)) * unit;
    status.memoryLoad = loadPercent(status.totalPhys, available);
    return status;
}

MemoryStatusSource &currentSource()
{
    static MemoryStatusSource source;
    return source;
}

MemoryStatus queryPlatform()
{
    QFile file(QStringLiteral("/proc/meminfo"));
    if (file.open(QIODevice::ReadOnly)) {
        const MemoryStatus status = parseMemInfo(file.readAll());
        if (status.totalPhys != 0)
            return status;
    }
    return fromSysinfo();
}
} // namespace

MemoryStatus parseMemInfo(const QByteArray &meminfo)
{
    MemoryStatus status;
    const std::optional<quint64> total = field(meminfo, "MemTotal");
    if (!total || *total == 0)
        return status;
    std::optional<quint64> available = field(meminfo, "MemAvailable");
    if (!available) {
        // Kernels before 3.14 have no MemAvailable: free memory plus the caches it can reclaim
        // is the nearest figure they give.
        available = field(meminfo, "MemFree").value_or(0) + field(meminfo, "Buffers").value_or(0) +
                    field(meminfo, "Cached").value_or(0);
    }
    if (*total > std::numeric_limits<quint64>::max() / 1024)
        return status;
    status.totalPhys = *total * 1024;
    status.memoryLoad = loadPercent(*total, *available);
    return status;
}

MemoryStatus GlobalMemoryStatus()
{
    if (const MemoryStatusSource &source = currentSource())
        return source();
    return queryPlatform();
}

MemoryStatusSource setMemoryStatusSource(MemoryStatusSource source)
{
    MemoryStatusSource previous = std::move(currentSource());
    currentSource() = std::move(source);
    return previous;
}
