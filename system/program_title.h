#pragma once

#include <QString>

// The program's title, with the trailing blank it has always carried: the main
// window's caption and the caption of every error box.
inline QString ProgramTitle()
{
    return QStringLiteral("Velkaro ");
}
