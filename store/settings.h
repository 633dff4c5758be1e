#pragma once

#include <QString>

#include <optional>

// What the settings file stores: the main window's outer bounds and the column widths of both
// lists. The window implements it; the store needs no window.
class SettingsTarget {
public:
    virtual ~SettingsTarget() = default;
    // Empty where the window system tells no positions (Wayland) and none was read: the settings
    // then keep what they held rather than a made-up 0.
    virtual std::optional<int> outerTop() const = 0;
    virtual std::optional<int> outerLeft() const = 0;
    virtual int outerWidth() const = 0;
    virtual int outerHeight() const = 0;
    virtual void setOuterTop(int value) = 0;
    virtual void setOuterLeft(int value) = 0;
    virtual void setOuterWidth(int value) = 0;
    virtual void setOuterHeight(int value) = 0;
    // list is 1 or 2, column counts from 0.
    virtual int columnWidth(int list, int column) const = 0;
    virtual void setColumnWidth(int list, int column, int width) = 0;
};

constexpr int list1ColumnCount = 7;
constexpr int list2ColumnCount = 6;

// Reads the seventeen keys in order and applies each at once; a missing key or one that does not
// convert keeps the value in force. Never fails. An empty path (the lists failed to load, so the
// settings path was never set) reads nothing.
void LoadSettings(const QString &path, SettingsTarget &target);

// Writes the seventeen keys as plain decimal in one atomic replacement of the file, keeping every
// other line. Throws PorError "%s に書き込めません". An empty path writes nothing: settings are not
// written in a run that did not read them.
void SaveSettings(const QString &path, const SettingsTarget &target);
