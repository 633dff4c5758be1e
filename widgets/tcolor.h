#pragma once

#include <QColor>
#include <QtGlobal>

// Colours as the program's layouts give them: $00BBGGRR for a plain colour (red in the low byte),
// or the top bit set and a system colour index in the low byte (clWindowText). toQColor is the
// one place where such a value becomes a screen colour.
using TColor = quint32;

constexpr TColor clBlue = 0xFF0000;
constexpr TColor clGreen = 0x008000;
constexpr TColor clLime = 0x00FF00;
constexpr TColor clAqua = 0xFFFF00;
constexpr TColor clRed = 0x0000FF;
constexpr TColor clWindowText = 0x80000008;

// System colours follow the application's palette at the moment of the call.
QColor toQColor(TColor color);
