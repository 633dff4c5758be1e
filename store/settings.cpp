#include "store/settings.h"

#include "store/integertext.h"
#include "store/profile.h"

#include <QFile>
#include <QFileInfo>

#include <optional>

namespace {

enum class Slot { Top, Left, Width, Height, Column };

struct SettingsKey {
    const char *section;
    const char *key;
    Slot slot;
    int list;   // for columns
    int column; // for columns, from 0
};

// The file's keys in the order they are read and written.
const SettingsKey settingsKeys[] = {
    {"Position", "Top", Slot::Top, 0, 0},     {"Position", "Left", Slot::Left, 0, 0},
    {"Position", "Width", Slot::Width, 0, 0}, {"Position", "Height", Slot::Height, 0, 0},
    {"List1", "Col1", Slot::Column, 1, 0},    {"List1", "Col2", Slot::Column, 1, 1},
    {"List1", "Col3", Slot::Column, 1, 2},    {"List1", "Col4", Slot::Column, 1, 3},
    {"List1", "Col5", Slot::Column, 1, 4},    {"List1", "Col6", Slot::Column, 1, 5},
    {"List1", "Col7", Slot::Column, 1, 6},    {"List2", "Col1", Slot::Column, 2, 0},
    {"List2", "Col2", Slot::Column, 2, 1},    {"List2", "Col3", Slot::Column, 2, 2},
    {"List2", "Col4", Slot::Column, 2, 3},    {"List2", "Col5", Slot::Column, 2, 4},
    {"List2", "Col6", Slot::Column, 2, 5},
};
static_assert(sizeof(settingsKeys) / sizeof(settingsKeys[0]) == 4 + list1ColumnCount + list2ColumnCount);

std::optional<int> current(const SettingsTarget &target, const SettingsKey &k)
{
    switch (k.slot) {
    case Slot::Top:
        return target.outerTop();
    case Slot::Left:
        return target.outerLeft();
    case Slot::Width:
        return target.outerWidth();
    case Slot::Height:
        return target.outerHeight();
    case Slot::Column:
        break;
    }
    return target.columnWidth(k.list, k.column);
}

void apply(SettingsTarget &target, const SettingsKey &k, int value)
{
    switch (k.slot) {
    case Slot::Top:
        target.setOuterTop(value);
        return;
    case Slot::Left:
        target.setOuterLeft(value);
        return;
    case Slot::Width:
        target.setOuterWidth(value);
        return;
    case Slot::Height:
        target.setOuterHeight(value);
        return;
    case Slot::Column:
        target.setColumnWidth(k.list, k.column, value);
        return;
    }
}

} // namespace

void LoadSettings(const QString &path, SettingsTarget &target)
{
    if (path.isEmpty() || !QFileInfo(path).isFile())
        return;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return;
    // All seventeen values from one pass over the file.
    QList<ProfileKey> keys;
    for (const SettingsKey &k : settingsKeys)
        keys.append(ProfileKey{k.section, k.key});
    const QList<QByteArray> values = ProfileFile(file.readAll()).values(keys);
    for (qsizetype i = 0; i < keys.size(); ++i) {
        if (const auto value = parseSettingsInteger(values[i]))
            apply(target, settingsKeys[i], *value);
    }
}

void SaveSettings(const QString &path, const SettingsTarget &target)
{
    if (path.isEmpty())
        return;
    QList<ProfileWrite> writes;
    for (const SettingsKey &k : settingsKeys) {
        if (const std::optional<int> value = current(target, k)) // a position nobody knows is not made up
            writes.append({k.section, k.key, integerText(*value)});
    }
    writePrivateProfileStrings(path, writes);
}
