#pragma once

#include <QIcon>
#include <Qt>

// The 16 x 16 page-button arrow: red with a black outline, a grey outline when
// disabled. Qt::LeftArrow points back, any other direction points forward.
QIcon pageArrowIcon(Qt::ArrowType direction);

// The program's window icon, a 25-pin connector, in each size the desktop's icon theme gets.
QIcon programIcon();
