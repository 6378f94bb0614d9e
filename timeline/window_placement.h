#pragma once

#include <QRect>
#include <QSize>

// Where a window of the size given goes so that it covers nothing of the owner
// window: on the screen's free area right of the owner, else left of it, else
// below, else above, as near to the owner as that allows. Where no side takes
// the whole size, the side with the most room does and the window shrinks to
// it, never below the minimum: past the screen's far edge rather than over the
// owner. Rectangles are frames: title bars included.
QRect PlaceBeside(const QRect& owner, QSize size, QSize minimum, const QRect& screen);
