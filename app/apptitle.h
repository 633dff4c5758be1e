#pragma once

#include <QString>

// The application title: the caption of the plain message box and of the error box. Until start-up
// sets it, it is the default title made from the program's file name.
QString applicationTitle();
void setApplicationTitle(const QString &title); // a null text goes back to the default title

// The file name without its folder and without everything from its first ".", every character
// after the first in lower case: "/opt/PorAddr" gives "Poraddr".
QString defaultTitle(const QString &programPath);

extern const char *const MainTitleUtf8; // "ぽるてアドレス帳"
inline QString mainTitle()
{
    return QString::fromUtf8(MainTitleUtf8);
}
