#include "window_placement.h"

#include <algorithm>
#include <array>

namespace {

// Between the two frames, so that their borders do not touch.
constexpr int Gap = 8;

enum class Side { Right, Left, Below, Above };

// The part of the screen beside the owner on that side.
QRect roomOn(Side side, const QRect& owner, const QRect& screen)
{
    switch (side) {
    case Side::Right:
        return QRect(QPoint(owner.right() + 1 + Gap, screen.top()), screen.bottomRight());
    case Side::Left:
        return QRect(screen.topLeft(), QPoint(owner.left() - 1 - Gap, screen.bottom()));
    case Side::Below:
        return QRect(QPoint(screen.left(), owner.bottom() + 1 + Gap), screen.bottomRight());
    case Side::Above:
        return QRect(screen.topLeft(), QPoint(screen.right(), owner.top() - 1 - Gap));
    }
    return {};
}

// The window in the room, at the edge that faces the owner, level with it where
// the room allows; one larger than the room keeps to the room's near edges.
QRect placedIn(Side side, const QRect& room, QSize size, const QRect& owner)
{
    const auto within = [](int wanted, int low, int high) { return std::max(low, std::min(wanted, high)); };
    const int x = within(owner.left(), room.left(), room.right() + 1 - size.width());
    const int y = within(owner.top(), room.top(), room.bottom() + 1 - size.height());
    switch (side) {
    case Side::Right:
        return QRect(QPoint(room.left(), y), size);
    case Side::Left:
        return QRect(QPoint(room.right() + 1 - size.width(), y), size);
    case Side::Below:
        return QRect(QPoint(x, room.top()), size);
    case Side::Above:
        return QRect(QPoint(x, room.bottom() + 1 - size.height()), size);
    }
    return {};
}

}

QRect PlaceBeside(const QRect& owner, QSize size, QSize minimum, const QRect& screen)
{
    constexpr std::array<Side, 4> Sides = {Side::Right, Side::Left, Side::Below, Side::Above};
    for (const Side side : Sides) {
        const QRect room = roomOn(side, owner, screen);
        if (room.width() >= size.width() && room.height() >= size.height())
            return placedIn(side, room, size, owner);
    }
    // No side takes it whole: the side that keeps the most of it.
    Side best = Side::Right;
    long long bestArea = -1;
    for (const Side side : Sides) {
        const QSize kept = size.boundedTo(roomOn(side, owner, screen).size()).expandedTo(QSize(0, 0));
        const long long area = static_cast<long long>(kept.width()) * kept.height();
        if (area > bestArea) {
            best = side;
            bestArea = area;
        }
    }
    // A screen smaller than the minimum: past the screen's far edge rather than over the owner.
    const QRect room = roomOn(best, owner, screen);
    return placedIn(best, room, size.boundedTo(room.size()).expandedTo(minimum), owner);
}
