#include "widgets/tcolor.h"

#include <QGuiApplication>
#include <QPalette>

namespace {
constexpr TColor systemColorFlag = 0x80000000;

// The system colour indexes that have a counterpart in the toolkit's palette.
QPalette::ColorRole roleOfSystemColor(quint32 index)
{
    switch (index) {
    case 5: // window background
        return QPalette::Base;
    case 9:  // caption text
    case 18: // button text
        return QPalette::ButtonText;
    case 13: // highlight
        return QPalette::Highlight;
    case 14: // highlighted text
        return QPalette::HighlightedText;
    case 15: // button face
        return QPalette::Button;
    case 16: // button shadow
        return QPalette::Dark;
    case 20: // button highlight
        return QPalette::Light;
    case 23: // tooltip text
        return QPalette::ToolTipText;
    case 24: // tooltip background
        return QPalette::ToolTipBase;
    default: // 8, window text, and everything without a closer match
        return QPalette::WindowText;
    }
}
} // namespace

QColor toQColor(TColor color)
{
    if (color & systemColorFlag)
        return QGuiApplication::palette().color(roleOfSystemColor(color & 0xFF));
    return QColor(int(color & 0xFF), int((color >> 8) & 0xFF), int((color >> 16) & 0xFF));
}
