// The text shown to the user for one of the program's English texts: every
// window and command of the application asks here, so a translation has
// one place to hook in.
#pragma once

#include "MainBundle.h"

#include <QString>

inline QString L(const char* text)
{
    return MainBundle::localizedString(QString::fromUtf8(text));
}
