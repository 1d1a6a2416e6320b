// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QImage>

// Pointer images of our own, drawn from character maps: the standard arrow
// that stands in for a cursor id the recording never described, and the shapes
// that `sessiontool synth` records. All are ARGB32 with full or no alpha.
namespace CursorShapes {

// The standard arrow, 11 x 19: the same pixels as the window's own arrow
// (resources/images/cursor_pointer.png), its tip at the hot spot (2, 2). A
// viewer that meets an unknown cursor id draws this image, so the window,
// `sessiontool frame --cursor` and the export show the same pointer.
QImage standardArrow();
constexpr int kStandardHotX = 2;
constexpr int kStandardHotY = 2;

// Shapes for recordings, with their hot spots.
QImage arrow();      // hot spot (0, 0)
QImage textBeam();   // hot spot (4, 8)
QImage hand();       // hot spot (5, 0)
QImage moveCross();  // hot spot (8, 8)

} // namespace CursorShapes
