// SPDX-License-Identifier: GPL-3.0-or-later
// The bitmap font and the text and number drawing built on it.

#include "VideoFrame.h"

#include <cstdio>

#include "ImagePixels.h"

namespace {

// Our own 8 x 9 glyphs for the characters 32 to 127, drawn as a sheet of 12
// strips of 8 glyphs: row r of a strip holds row r of its eight glyphs side
// by side, 8 columns each, "#" set and blank clear. Capitals and digits use
// rows 0 to 6; rows 7 and 8 carry the descenders; column 0 and the last two
// columns stay clear so neighbouring glyphs do not touch.
constexpr const char* s_font[12][9] = {
    // ' ' '!' '"' '#' '$' '%' '&' "'"
    {
        "           #      # #     # #      #     ##       ##       #    ",
        "           #      # #     # #     ####   ##  #   #  #      #    ",
        "           #             #####   # #        #    # #            ",
        "           #              # #     ###      #      #             ",
        "           #             #####     # #    #      # # #          ",
        "                          # #    ####    #  ##   #  #           ",
        "           #              # #      #        ##    ## #          ",
        "                                                                ",
        "                                                                ",
    },
    // '(' ')' '*' '+' ',' '-' '.' '/'
    {
        "    #     #                                                     ",
        "   #       #       #       #                                 #  ",
        "  #         #    # # #     #                                #   ",
        "  #         #     ###    #####           #####             #    ",
        "  #         #    # # #     #                              #     ",
        "   #       #       #       #      ##              ##     #      ",
        "    #     #                        #              ##            ",
        "                                  #                             ",
        "                                                                ",
    },
    // '0' '1' '2' '3' '4' '5' '6' '7'
    {
        "  ###      #      ###     ###       #    #####     ##    #####  ",
        " #   #    ##     #   #   #   #     ##    #        #          #  ",
        " #  ##     #         #       #    # #    ####    #          #   ",
        " # # #     #        #      ##    #  #        #   ####      #    ",
        " ##  #     #       #         #   #####       #   #   #    #     ",
        " #   #     #      #      #   #      #    #   #   #   #    #     ",
        "  ###     ###    #####    ###       #     ###     ###     #     ",
        "                                                                ",
        "                                                                ",
    },
    // '8' '9' ':' ';' '<' '=' '>' '?'
    {
        "  ###     ###                        #           #        ###   ",
        " #   #   #   #    ##      ##        #             #      #   #  ",
        " #   #   #   #    ##      ##       #     #####     #         #  ",
        "  ###     ####                    #                 #       #   ",
        " #   #       #    ##      ##       #     #####     #       #    ",
        " #   #      #     ##      ##        #             #             ",
        "  ###     ##               #         #           #         #    ",
        "                          #                                     ",
        "                                                                ",
    },
    // '@' 'A' 'B' 'C' 'D' 'E' 'F' 'G'
    {
        "  ###     ###    ####     ###    ####    #####   #####    ###   ",
        " #   #   #   #   #   #   #   #   #   #   #       #       #   #  ",
        " # ###   #   #   #   #   #       #   #   #       #       #      ",
        " # # #   #####   ####    #       #   #   ####    ####    # ###  ",
        " # ###   #   #   #   #   #       #   #   #       #       #   #  ",
        " #       #   #   #   #   #   #   #   #   #       #       #   #  ",
        "  ####   #   #   ####     ###    ####    #####   #        ####  ",
        "                                                                ",
        "                                                                ",
    },
    // 'H' 'I' 'J' 'K' 'L' 'M' 'N' 'O'
    {
        " #   #    ###      ###   #   #   #       #   #   #   #    ###   ",
        " #   #     #        #    #  #    #       ## ##   #   #   #   #  ",
        " #   #     #        #    # #     #       # # #   ##  #   #   #  ",
        " #####     #        #    ##      #       # # #   # # #   #   #  ",
        " #   #     #        #    # #     #       #   #   #  ##   #   #  ",
        " #   #     #     #  #    #  #    #       #   #   #   #   #   #  ",
        " #   #    ###     ##     #   #   #####   #   #   #   #    ###   ",
        "                                                                ",
        "                                                                ",
    },
    // 'P' 'Q' 'R' 'S' 'T' 'U' 'V' 'W'
    {
        " ####     ###    ####     ####   #####   #   #   #   #   #   #  ",
        " #   #   #   #   #   #   #         #     #   #   #   #   #   #  ",
        " #   #   #   #   #   #   #         #     #   #   #   #   #   #  ",
        " ####    #   #   ####     ###      #     #   #   #   #   # # #  ",
        " #       # # #   # #         #     #     #   #   #   #   # # #  ",
        " #       #  #    #  #        #     #     #   #    # #    # # #  ",
        " #        ## #   #   #   ####      #      ###      #      # #   ",
        "                                                                ",
        "                                                                ",
    },
    // 'X' 'Y' 'Z' '[' '\\' ']' '^' '_'
    {
        " #   #   #   #   #####    ###             ###      #            ",
        " #   #   #   #       #    #      #          #     # #           ",
        "  # #     # #       #     #       #         #    #   #          ",
        "   #       #       #      #        #        #                   ",
        "  # #      #      #       #         #       #                   ",
        " #   #     #     #        #          #      #                   ",
        " #   #     #     #####    ###             ###                   ",
        "                                                         #####  ",
        "                                                                ",
    },
    // '`' 'a' 'b' 'c' 'd' 'e' 'f' 'g'
    {
        "  #              #                   #             ##           ",
        "   #             #                   #            #  #          ",
        "          ###    # ##     ###     ## #    ###     #       ####  ",
        "             #   ##  #   #       #  ##   #   #   ###     #   #  ",
        "          ####   #   #   #       #   #   #####    #      #   #  ",
        "         #   #   #   #   #   #   #   #   #        #      #   #  ",
        "          ####   ####     ###     ####    ###     #       ####  ",
        "                                                             #  ",
        "                                                          ###   ",
    },
    // 'h' 'i' 'j' 'k' 'l' 'm' 'n' 'o'
    {
        " #         #        #    #        ##                            ",
        " #                       #         #                            ",
        " # ##     ##       ##    #  #      #     ## #    # ##     ###   ",
        " ##  #     #        #    # #       #     # # #   ##  #   #   #  ",
        " #   #     #        #    ##        #     # # #   #   #   #   #  ",
        " #   #     #        #    # #       #     # # #   #   #   #   #  ",
        " #   #    ###       #    #  #     ###    # # #   #   #    ###   ",
        "                 #  #                                           ",
        "                  ##                                            ",
    },
    // 'p' 'q' 'r' 's' 't' 'u' 'v' 'w'
    {
        "                                  #                             ",
        "                                  #                             ",
        " ####     ####   # ##     ####   ###     #   #   #   #   #   #  ",
        " #   #   #   #   ##  #   #        #      #   #   #   #   #   #  ",
        " #   #   #   #   #        ###     #      #   #   #   #   # # #  ",
        " #   #   #   #   #           #    #  #   #  ##    # #    # # #  ",
        " ####     ####   #       ####      ##     ## #     #      # #   ",
        " #           #                                                  ",
        " #           #                                                  ",
    },
    // 'x' 'y' 'z' '{' '|' '}' '~' DEL
    {
        "                            ##     #     ##              # # #  ",
        "                           #       #       #              # #   ",
        " #   #   #   #   #####     #       #       #      #      # # #  ",
        "  # #    #   #      #     #        #        #    # # #    # #   ",
        "   #     #   #     #       #       #       #        #    # # #  ",
        "  # #    #   #    #        #       #       #              # #   ",
        " #   #    ####   #####      ##     #     ##              # # #  ",
        "             #                     #                            ",
        "          ###                                                   ",
    },
};

constexpr int kGlyphs = 96;

struct GlyphBits {
    unsigned char rows[kGlyphs][VideoFrame::FONT_HEIGHT];
};

// Turns the sheet into row bit masks at compile time; a sheet row of the
// wrong length or with another character than "#" and blank does not compile.
constexpr GlyphBits decodeFont()
{
    GlyphBits bits{};
    for (int strip = 0; strip < 12; ++strip) {
        for (int r = 0; r < VideoFrame::FONT_HEIGHT; ++r) {
            const char* line = s_font[strip][r];
            for (int i = 0; i < 64; ++i)
                if (line[i] != '#' && line[i] != ' ')
                    throw "font sheet rows hold 64 of '#' and ' '";
            if (line[64] != '\0')
                throw "font sheet row too long";
            for (int g = 0; g < 8; ++g) {
                unsigned char row = 0;
                for (int col = 0; col < VideoFrame::FONT_WIDTH; ++col)
                    row = static_cast<unsigned char>((row << 1) | (line[g * 8 + col] == '#' ? 1 : 0));
                bits.rows[strip * 8 + g][r] = row;
            }
        }
    }
    return bits;
}

constexpr GlyphBits s_glyphs = decodeFont();

// One font pixel: a size x size square, clipped.
void square(unsigned int* buffer, int width, int height, long long x, long long y, long long size,
            unsigned int colour)
{
    const long long x0 = x < 0 ? 0 : x, y0 = y < 0 ? 0 : y;
    const long long x1 = x + size < width ? x + size : width;
    const long long y1 = y + size < height ? y + size : height;
    for (long long py = y0; py < y1; ++py)
        for (long long px = x0; px < x1; ++px)
            buffer[py * width + px] = colour;
}

bool printable(unsigned char c) { return c >= 32 && c <= 127; }

void glyph(unsigned int* buffer, int width, int height, long long x, long long y, unsigned char c,
           unsigned int colour, int size)
{
    const long long extentX = static_cast<long long>(VideoFrame::FONT_WIDTH) * size;
    const long long extentY = static_cast<long long>(VideoFrame::FONT_HEIGHT) * size;
    if (x >= width || y >= height || x + extentX <= 0 || y + extentY <= 0)
        return;
    const unsigned char* rows = s_glyphs.rows[c - 32];
    for (int r = 0; r < VideoFrame::FONT_HEIGHT; ++r)
        for (int col = 0; col < VideoFrame::FONT_WIDTH; ++col)
            if (rows[r] & (0x80 >> col))
                square(buffer, width, height, x + static_cast<long long>(col) * size,
                       y + static_cast<long long>(r) * size, size, colour);
}

void drawString(unsigned int* buffer, int width, int height, long long x, long long y, const char* s,
          unsigned int colour, int size)
{
    if (!s || size < 1 || imaging::pixelCount(buffer, width, height) < 0)
        return;
    for (; *s; ++s) {
        const unsigned char c = static_cast<unsigned char>(*s);
        if (!printable(c))
            continue;
        glyph(buffer, width, height, x, y, c, colour, size);
        x += static_cast<long long>(VideoFrame::FONT_WIDTH) * size;
    }
}

void outlinedText(unsigned int* buffer, int width, int height, int x, int y, const char* s,
                  unsigned int colour, unsigned int outlineColour, int size)
{
    for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx)
            if (dx != 0 || dy != 0)
                drawString(buffer, width, height, static_cast<long long>(x) + dx,
                     static_cast<long long>(y) + dy, s, outlineColour, size);
    drawString(buffer, width, height, x, y, s, colour, size);
}

} // namespace

unsigned char VideoFrame::fontRow(int character, int row)
{
    if (character < 32 || character > 127 || row < 0 || row >= FONT_HEIGHT)
        return 0;
    return s_glyphs.rows[character - 32][row];
}

void VideoFrame::drawChar(unsigned int* buffer, int width, int height, int x, int y, char c,
                          unsigned int colour, int size)
{
    const char s[2] = {c, 0};
    drawString(buffer, width, height, x, y, s, colour, size);
}

void VideoFrame::drawText(unsigned int* buffer, int width, int height, int x, int y,
                          const char* text, unsigned int colour, int size)
{
    drawString(buffer, width, height, x, y, text, colour, size);
}

void VideoFrame::drawTextOutline(unsigned int* buffer, int width, int height, int x, int y,
                                 const char* text, unsigned int colour,
                                 unsigned int outlineColour, int size)
{
    outlinedText(buffer, width, height, x, y, text, colour, outlineColour, size);
}

void VideoFrame::drawNumber(unsigned int* buffer, int width, int height, int x, int y, int number,
                            unsigned int colour, int size)
{
    char digits[16];
    std::snprintf(digits, sizeof digits, "%d", number);
    drawString(buffer, width, height, x, y, digits, colour, size);
}

void VideoFrame::drawNumberOutline(unsigned int* buffer, int width, int height, int x, int y,
                                   int number, unsigned int colour, unsigned int outlineColour,
                                   int size)
{
    char digits[16];
    std::snprintf(digits, sizeof digits, "%d", number);
    outlinedText(buffer, width, height, x, y, digits, colour, outlineColour, size);
}

void VideoFrame::drawSingleNumber(unsigned int* buffer, int width, int height, int x, int y,
                                  int digit, unsigned int colour, int size)
{
    if (digit < 0 || digit > 9)
        return;
    const char s[2] = {static_cast<char>('0' + digit), 0};
    drawString(buffer, width, height, x, y, s, colour, size);
}

void VideoFrame::drawSingleNumber2(unsigned int* buffer, int width, int height, int x, int y,
                                   int number, unsigned int colour, int size)
{
    if (number < 0 || number > 99)
        return;
    const char s[3] = {static_cast<char>('0' + number / 10), static_cast<char>('0' + number % 10), 0};
    drawString(buffer, width, height, x, y, s, colour, size);
}

void VideoFrame::drawChar(int x, int y, char c, unsigned int colour, int size)
{
    drawChar(m_pixels.data(), m_width, m_height, x, y, c, colour, size);
}

void VideoFrame::drawText(int x, int y, const char* text, unsigned int colour, int size)
{
    drawText(m_pixels.data(), m_width, m_height, x, y, text, colour, size);
}

void VideoFrame::drawTextOutline(int x, int y, const char* text, unsigned int colour,
                                 unsigned int outlineColour, int size)
{
    drawTextOutline(m_pixels.data(), m_width, m_height, x, y, text, colour, outlineColour, size);
}

void VideoFrame::drawNumber(int x, int y, int number, unsigned int colour, int size)
{
    drawNumber(m_pixels.data(), m_width, m_height, x, y, number, colour, size);
}

void VideoFrame::drawNumberOutline(int x, int y, int number, unsigned int colour,
                                   unsigned int outlineColour, int size)
{
    drawNumberOutline(m_pixels.data(), m_width, m_height, x, y, number, colour, outlineColour, size);
}
