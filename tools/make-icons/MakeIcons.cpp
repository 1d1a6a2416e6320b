// SPDX-License-Identifier: GPL-3.0-or-later
// make-icons: draws the player's images (control-bar buttons, position-bar
// tiles, the standard arrow pointer and the application icons) and writes
// them as PNG files into the folder given as the only argument, normally
// app/resources/images. The PNGs are committed; run this again after
// changing a drawing:
//
//   make-icons app/resources/images
//
// One family: flat glyphs in one ink colour on transparent ground, strokes
// of 1.5 px at 16 px, two pixels of padding, round joins; the accent blue
// marks the zoom button while zoom is on and the application icon.

#include <QColor>
#include <QDir>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>

#include <cstdio>
#include <functional>

namespace {

const QColor kInk(0x33, 0x3a, 0x44);
const QColor kAccent(0x1f, 0x6f, 0xd6);

QString g_outDir;
int g_failures = 0;

void save(const QString& name, int width, int height, const std::function<void(QPainter&)>& draw)
{
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing);
        draw(p);
    }
    const QString path = QDir(g_outDir).filePath(name);
    if (!image.convertToFormat(QImage::Format_ARGB32).save(path, "PNG")) {
        std::fprintf(stderr, "make-icons: cannot write %s\n", qPrintable(path));
        ++g_failures;
    }
}

QPen inkPen(const QColor& colour, double width)
{
    return QPen(colour, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

// A filled polygon whose corners are softened by a thin outline of the same
// colour.
void softPolygon(QPainter& p, const QPolygonF& poly, const QColor& colour)
{
    p.setPen(inkPen(colour, 1.2));
    p.setBrush(colour);
    p.drawPolygon(poly);
}

QPolygonF mirrored(const QPolygonF& poly, double width)
{
    QPolygonF out;
    for (const QPointF& pt : poly)
        out << QPointF(width - pt.x(), pt.y());
    return out;
}

// ---- 16 x 16 buttons -------------------------------------------------------

void drawOpen(QPainter& p)
{
    // A folder: the back with its tab, then the front flap a little lower.
    QPainterPath back;
    back.moveTo(2, 3.5);
    back.lineTo(6.2, 3.5);
    back.lineTo(7.7, 5);
    back.lineTo(13, 5);
    back.quadTo(14, 5, 14, 6);
    back.lineTo(14, 12.5);
    back.lineTo(2, 12.5);
    back.closeSubpath();
    p.setPen(inkPen(kInk, 1.5));
    p.setBrush(Qt::NoBrush);
    p.drawPath(back);
    QPainterPath front;
    front.moveTo(2, 12.5);
    front.lineTo(3.6, 7.5);
    front.lineTo(15.2, 7.5);
    front.lineTo(13.6, 12.5);
    front.closeSubpath();
    p.setBrush(kInk);
    p.drawPath(front);
}

void drawStop(QPainter& p)
{
    p.setPen(Qt::NoPen);
    p.setBrush(kInk);
    p.drawRoundedRect(QRectF(3.5, 3.5, 9, 9), 1.5, 1.5);
}

const QPolygonF kPlay{QPointF(4.5, 2.8), QPointF(13, 8), QPointF(4.5, 13.2)};

void drawPlay(QPainter& p)
{
    softPolygon(p, kPlay, kInk);
}

void drawPause(QPainter& p)
{
    p.setPen(Qt::NoPen);
    p.setBrush(kInk);
    p.drawRoundedRect(QRectF(3.5, 3, 3.2, 10), 1, 1);
    p.drawRoundedRect(QRectF(9.3, 3, 3.2, 10), 1, 1);
}

// Three bars: the menu of everything that has no button.
void drawMenu(QPainter& p)
{
    p.setPen(Qt::NoPen);
    p.setBrush(kInk);
    for (double y : {3.5, 7.0, 10.5})
        p.drawRoundedRect(QRectF(2.5, y, 11, 2.2), 1, 1);
}

// Two triangles pointing right (faster); mirrored for slower.
const QPolygonF kFastA{QPointF(1.8, 3.8), QPointF(7.8, 8), QPointF(1.8, 12.2)};
const QPolygonF kFastB{QPointF(8.2, 3.8), QPointF(14.2, 8), QPointF(8.2, 12.2)};

void drawSpeedUp(QPainter& p)
{
    softPolygon(p, kFastA, kInk);
    softPolygon(p, kFastB, kInk);
}

void drawSlowDown(QPainter& p)
{
    softPolygon(p, mirrored(kFastA, 16), kInk);
    softPolygon(p, mirrored(kFastB, 16), kInk);
}

// A triangle against a bar: step forward; mirrored for step back.
const QPolygonF kStep{QPointF(3, 3.3), QPointF(10, 8), QPointF(3, 12.7)};

void drawStepForward(QPainter& p)
{
    softPolygon(p, kStep, kInk);
    p.setPen(Qt::NoPen);
    p.drawRoundedRect(QRectF(10.8, 3, 2.4, 10), 0.8, 0.8);
}

void drawStepBack(QPainter& p)
{
    softPolygon(p, mirrored(kStep, 16), kInk);
    p.setPen(Qt::NoPen);
    p.drawRoundedRect(QRectF(16 - 10.8 - 2.4, 3, 2.4, 10), 0.8, 0.8);
}

// ---- 18 x 18 toggles -------------------------------------------------------

void drawMagnifier(QPainter& p, const QColor& colour)
{
    p.setBrush(Qt::NoBrush);
    p.setPen(inkPen(colour, 1.7));
    p.drawEllipse(QPointF(7.6, 7.6), 4.3, 4.3);
    p.setPen(inkPen(colour, 2.6));
    p.drawLine(QPointF(11, 11), QPointF(14.6, 14.6));
}

// Zoom off: the plain glyph. Zoom on: the glyph in white on an accent chip,
// the look of a pressed toggle.
void drawZoom(QPainter& p)
{
    drawMagnifier(p, kInk);
}

void drawZoomActive(QPainter& p)
{
    p.setPen(Qt::NoPen);
    p.setBrush(kAccent);
    p.drawRoundedRect(QRectF(0.5, 0.5, 17, 17), 3.5, 3.5);
    drawMagnifier(p, Qt::white);
}

// Four corner brackets. Outward: "go full screen", shown while windowed.
// Inward: "leave full screen", shown in full screen.
void drawCorners(QPainter& p, bool outward)
{
    p.setBrush(Qt::NoBrush);
    p.setPen(inkPen(kInk, 1.8));
    const double lo = 3, hi = 15, arm = 4.2, mid = 6.6;
    for (int sx = 0; sx < 2; ++sx) {
        for (int sy = 0; sy < 2; ++sy) {
            const double cx = sx ? hi : lo, cy = sy ? hi : lo;
            const double dx = sx ? -1 : 1, dy = sy ? -1 : 1;
            QPainterPath path;
            if (outward) {
                path.moveTo(cx, cy + dy * arm);
                path.lineTo(cx, cy);
                path.lineTo(cx + dx * arm, cy);
            } else {
                const double ix = sx ? 18 - mid : mid, iy = sy ? 18 - mid : mid;
                path.moveTo(ix, iy - dy * (arm - 0.6));
                path.lineTo(ix, iy);
                path.lineTo(ix - dx * (arm - 0.6), iy);
            }
            p.drawPath(path);
        }
    }
}

// ---- Position-bar tiles (3 x 13) -------------------------------------------

// The groove: a recessed track with a darker top edge. The chunk: a
// saturated band with a light top line, so the filled part reads as raised.
void drawTile(QPainter& p, QColor top, QColor bottom, QColor edge)
{
    p.setRenderHint(QPainter::Antialiasing, false);
    QLinearGradient g(0, 0, 0, 13);
    g.setColorAt(0, top);
    g.setColorAt(1, bottom);
    p.fillRect(QRect(0, 0, 3, 13), g);
    p.fillRect(QRect(0, 0, 3, 1), edge);
}

// ---- Arrow pointer (11 x 19, hot spot 2, 2) --------------------------------

// The classic arrow, black with a white rim, set pixel by pixel: a pointer is
// drawn at its own size and must stay crisp, and its tip must be one whole
// pixel, (2, 2), where the scene places the hot spot. 'o' rim, 'X' fill.
void drawPointer(QPainter& p)
{
    static const char* const rows[] = {
        "...........",
        "...........",
        "..o........",
        "..oo.......",
        "..oXo......",
        "..oXXo.....",
        "..oXXXo....",
        "..oXXXXo...",
        "..oXXXXXo..",
        "..oXXXXXXo.",
        "..oXXXXXXXo",
        "..oXXXXoooo",
        "..oXXoXXo..",
        "..oXo.oXXo.",
        "..oo..oXXo.",
        "..o....oXXo",
        ".......oXXo",
        "........oo.",
        "...........",
    };
    p.setRenderHint(QPainter::Antialiasing, false);
    for (int y = 0; y < 19; ++y) {
        for (int x = 0; x < 11; ++x) {
            if (rows[y][x] == 'o')
                p.fillRect(x, y, 1, 1, Qt::white);
            else if (rows[y][x] == 'X')
                p.fillRect(x, y, 1, 1, Qt::black);
        }
    }
}

// ---- Application icon ------------------------------------------------------

// A screen in the accent colour with a white play triangle: a player of
// recorded screens. icon.svg beside the PNGs is the same drawing by hand, for
// the icon theme's scalable size: change both together.
void drawAppIcon(QPainter& p, int size)
{
    const double s = size / 16.0;
    p.scale(s, s);
    QLinearGradient g(0, 1, 0, 13);
    g.setColorAt(0, kAccent.lighter(118));
    g.setColorAt(1, kAccent.darker(112));
    p.setPen(Qt::NoPen);
    p.setBrush(g);
    p.drawRoundedRect(QRectF(0.5, 1, 15, 11.5), 2, 2);
    // The stand, on whole pixels so it stays sharp at 16 px.
    p.setBrush(kInk);
    p.drawRoundedRect(QRectF(5, 13, 6, 2), 0.6, 0.6);
    const QPolygonF play{QPointF(5.8, 3.6), QPointF(11.2, 6.75), QPointF(5.8, 9.9)};
    p.setPen(QPen(Qt::white, 1.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::white);
    p.drawPolygon(play);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make-icons <output folder>\n");
        return 2;
    }
    g_outDir = QString::fromLocal8Bit(argv[1]);
    if (!QDir().mkpath(g_outDir)) {
        std::fprintf(stderr, "make-icons: cannot create %s\n", argv[1]);
        return 1;
    }

    save("btn_file.png", 16, 16, drawOpen);
    save("btn_stop.png", 16, 16, drawStop);
    save("btn_play.png", 16, 16, drawPlay);
    save("btn_pause.png", 16, 16, drawPause);
    save("btn_slowdown.png", 16, 16, drawSlowDown);
    save("btn_speedup.png", 16, 16, drawSpeedUp);
    save("btn_stepback.png", 16, 16, drawStepBack);
    save("btn_stepforward.png", 16, 16, drawStepForward);
    save("btn_menu.png", 16, 16, drawMenu);
    save("btn_zoom.png", 18, 18, drawZoom);
    save("btn_zoom_a.png", 18, 18, drawZoomActive);
    save("btn_fullscreen.png", 18, 18, [](QPainter& p) { drawCorners(p, false); });
    save("btn_fullscreen_a.png", 18, 18, [](QPainter& p) { drawCorners(p, true); });
    save("green_inactive.png", 3, 13, [](QPainter& p) {
        drawTile(p, QColor(0xb4, 0xbf, 0xb6), QColor(0xd9, 0xe0, 0xda), QColor(0x98, 0xa4, 0x9a));
    });
    save("green_active.png", 3, 13, [](QPainter& p) {
        drawTile(p, QColor(0x5c, 0xc2, 0x5f), QColor(0x2a, 0x8c, 0x35), QColor(0x9b, 0xe0, 0x9c));
    });
    save("red_inactive.png", 3, 13, [](QPainter& p) {
        drawTile(p, QColor(0xc6, 0xb3, 0xb3), QColor(0xe2, 0xd6, 0xd6), QColor(0xab, 0x96, 0x96));
    });
    save("red_active.png", 3, 13, [](QPainter& p) {
        drawTile(p, QColor(0xe8, 0x5f, 0x52), QColor(0xb0, 0x25, 0x1d), QColor(0xf4, 0xa8, 0xa0));
    });
    save("cursor_pointer.png", 11, 19, drawPointer);
    // The window uses 16 and 48; the install rules put every size in the
    // icon theme.
    for (int size : {16, 32, 48, 64, 128, 256})
        save(QStringLiteral("icon_%1x%1.png").arg(size), size, size, [size](QPainter& p) { drawAppIcon(p, size); });
    return g_failures == 0 ? 0 : 1;
}
