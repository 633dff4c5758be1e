#include "store/settings.h"

#include "store/integertext.h"
#include "store/profile.h"

#include <QFile>
#include <QFileInfo>

#include <optional>

namespace {

struct SettingsKey {
    const char *section;
    const char *key;
    std::optional<int> WindowSettings::*value; // for the position keys
    int list;                                  // for columns: 1 or 2
    int column;                                // for columns, from 0
};

// The file's keys in the order they are read and written.
const SettingsKey settingsKeys[] = {
    {"Position", "Top", &WindowSettings::top, 0, 0},
    {"Position", "Left", &WindowSettings::left, 0, 0},
    {"Position", "Width", &WindowSettings::width, 0, 0},
    {"Position", "Height", &WindowSettings::height, 0, 0},
    {"List1", "Col1", nullptr, 1, 0},
    {"List1", "Col2", nullptr, 1, 1},
    {"List1", "Col3", nullptr, 1, 2},
    {"List1", "Col4", nullptr, 1, 3},
    {"List1", "Col5", nullptr, 1, 4},
    {"List1", "Col6", nullptr, 1, 5},
    {"List1", "Col7", nullptr, 1, 6},
    {"List2", "Col1", nullptr, 2, 0},
    {"List2", "Col2", nullptr, 2, 1},
    {"List2", "Col3", nullptr, 2, 2},
    {"List2", "Col4", nullptr, 2, 3},
    {"List2", "Col5", nullptr, 2, 4},
    {"List2", "Col6", nullptr, 2, 5},
};
static_assert(sizeof(settingsKeys) / sizeof(settingsKeys[0]) == 4 + list1ColumnCount + list2ColumnCount);

template <typename Settings> auto &valueOf(Settings &settings, const SettingsKey &k)
{
    if (k.value)
        return settings.*k.value;
    return k.list == 1 ? settings.list1Widths[k.column] : settings.list2Widths[k.column];
}

} // namespace

WindowSettings LoadSettings(const QString &path)
{
    WindowSettings settings;
    if (path.isEmpty() || !QFileInfo(path).isFile())
        return settings;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return settings;
    // All seventeen values from one pass over the file.
    QList<ProfileKey> keys;
    for (const SettingsKey &k : settingsKeys)
        keys.append(ProfileKey{k.section, k.key});
    const QList<QByteArray> values = ProfileFile(file.readAll()).values(keys);
    for (qsizetype i = 0; i < keys.size(); ++i)
        valueOf(settings, settingsKeys[i]) = parseSettingsInteger(values[i]);
    return settings;
}

void SaveSettings(const QString &path, const WindowSettings &settings)
{
    if (path.isEmpty())
        return;
    QList<ProfileWrite> writes;
    for (const SettingsKey &k : settingsKeys) {
        if (const std::optional<int> &value = valueOf(settings, k)) // a position nobody knows is not made up
            writes.append({k.section, k.key, integerText(*value)});
    }
    writePrivateProfileStrings(path, writes);
}
