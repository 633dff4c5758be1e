#pragma once

#include <QFont>
#include <QIcon>
#include <QPixmap>

// The look every window of the program shares: its font and its images.

// "ＭＳ Ｐゴシック" at 12 pixels; where that face is not installed, the metric-compatible IPAPGothic
// stands in for it through a font substitution.
QFont programFont();

QIcon programIcon();
QPixmap programPicture(); // the icon as a 32 x 32 picture
QPixmap coolBarBackground();
