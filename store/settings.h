#pragma once

#include <QString>

#include <optional>

constexpr int list1ColumnCount = 7;
constexpr int list2ColumnCount = 6;

// What the settings file keeps: the main window's outer bounds and the column widths of both lists,
// each in pixels. A value is empty where there is none: a key missing from the file or one that
// does not convert when reading, a position the window system does not tell (Wayland) when
// writing. An empty value is neither applied nor written, so what is in force, or in the file,
// stays.
struct WindowSettings {
    std::optional<int> top, left, width, height;
    std::optional<int> list1Widths[list1ColumnCount];
    std::optional<int> list2Widths[list2ColumnCount];
};

// Reads the seventeen keys. Whoever applies them must do so in the file's order (Top, Left, Width,
// Height, then each list's columns from the first), each at once, as each may move what the next
// starts from. Never fails. An empty path (the lists failed to load, so the settings path was never
// set) reads nothing.
WindowSettings LoadSettings(const QString &path);

// Writes the keys that have a value, in the file's order, as plain decimal in one atomic
// replacement of the file, keeping every other line. Throws PorError "%s に書き込めません". An
// empty path writes nothing: settings are not written in a run that did not read them.
void SaveSettings(const QString &path, const WindowSettings &settings);
