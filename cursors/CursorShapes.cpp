// SPDX-License-Identifier: GPL-3.0-or-later
#include "CursorShapes.h"

#include <cstring>

namespace {

// 'X' black, '#' white, anything else transparent.
QImage fromMap(const char* const* rows, int count)
{
    const int width = static_cast<int>(std::strlen(rows[0]));
    QImage image(width, count, QImage::Format_ARGB32);
    for (int y = 0; y < count; ++y) {
        const int length = static_cast<int>(std::strlen(rows[y]));
        for (int x = 0; x < width; ++x) {
            const char c = x < length ? rows[y][x] : '.';
            image.setPixel(x, y, c == 'X' ? 0xFF000000u : c == '#' ? 0xFFFFFFFFu : 0x00000000u);
        }
    }
    return image;
}

// The arrow shown for a cursor the recording never described: the window's
// own arrow (a black arrow with a white rim, its tip at (2, 2), the hot
// spot), pixel for pixel.
const char* const kStandardArrow[] = {
    "...........",
    "...........",
    "..#........",
    "..##.......",
    "..#X#......",
    "..#XX#.....",
    "..#XXX#....",
    "..#XXXX#...",
    "..#XXXXX#..",
    "..#XXXXXX#.",
    "..#XXXXXXX#",
    "..#XXXX####",
    "..#XX#XX#..",
    "..#X#.#XX#.",
    "..##..#XX#.",
    "..#....#XX#",
    ".......#XX#",
    "........##.",
    "...........",
};

const char* const kArrow[] = {
    "X..........",
    "XX.........",
    "X#X........",
    "X##X.......",
    "X###X......",
    "X####X.....",
    "X#####X....",
    "X######X...",
    "X#######X..",
    "X########X.",
    "X#####XXXXX",
    "X##X##X....",
    "X#X.X##X...",
    "XX..X##X...",
    "X....X##X..",
    ".....X##X..",
    "......X##X.",
    "......X##X.",
    ".......XX..",
};

const char* const kBeam[] = {
    "XXX.XXX.",
    "###X###.",
    "...X....",
    "...X....",
    "...X....",
    "...X....",
    "...X....",
    "...X....",
    "...X....",
    "...X....",
    "...X....",
    "...X....",
    "...X....",
    "...X....",
    "###X###.",
    "XXX.XXX.",
};

const char* const kHand[] = {
    "....XX..........",
    "...X##X.........",
    "...X##X.........",
    "...X##X.........",
    "...X##X.........",
    "...X##XXX.......",
    "...X##X##XXX....",
    "...X##X##X##XX..",
    ".XXX##X##X##X#X.",
    "X##X########X#X.",
    "X###X##########X",
    ".X#############X",
    "..X############X",
    "..X###########X.",
    "...X##########X.",
    "...X#########X..",
    "....X########X..",
    "....X########X..",
    "....XXXXXXXXXX..",
};

const char* const kMove[] = {
    "........X........",
    ".......X#X.......",
    "......X###X......",
    ".....X#####X.....",
    "......XX#XX......",
    "..X.....#.....X..",
    ".X#X....#....X#X.",
    "X###XXXX#XXXX###X",
    "#################",
    "X###XXXX#XXXX###X",
    ".X#X....#....X#X.",
    "..X.....#.....X..",
    "......XX#XX......",
    ".....X#####X.....",
    "......X###X......",
    ".......X#X.......",
    "........X........",
};

template <int N>
QImage fromMap(const char* const (&rows)[N])
{
    return fromMap(rows, N);
}

} // namespace

namespace CursorShapes {

QImage standardArrow()
{
    return fromMap(kStandardArrow);
}

QImage arrow()
{
    return fromMap(kArrow);
}

QImage textBeam()
{
    return fromMap(kBeam);
}

QImage hand()
{
    return fromMap(kHand);
}

QImage moveCross()
{
    return fromMap(kMove);
}

} // namespace CursorShapes
