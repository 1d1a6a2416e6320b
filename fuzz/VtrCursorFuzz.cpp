// SPDX-License-Identifier: GPL-3.0-or-later
// Feeds arbitrary bytes to the cursor record reader. A record it accepts must
// have stayed within the input, must draw without fault, and must survive a
// write and re-read unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include <QByteArray>
#include <QImage>
#include <QPainter>

#include "VtrCursor.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const int length = size > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(size);
    VtrCursor cursor;
    const int consumed = cursor.deserialize(data, length);
    if (consumed <= 0)
        return 0;
    if (consumed > length || cursor.width() > VtrCursor::MAX_SIZE
        || cursor.height() > VtrCursor::MAX_SIZE)
        std::abort();

    QImage canvas(64, 64, QImage::Format_ARGB32_Premultiplied);
    canvas.fill(0);
    {
        QPainter p(&canvas);
        cursor.draw(&p, 32, 32);
        cursor.stretch(&p, 32, 32, 48, 24);
    }

    QByteArray out;
    if (!cursor.serialize(out))
        return 0; // more pixels than a record's 16-bit length can carry
    VtrCursor again;
    const int reread =
        again.deserialize(reinterpret_cast<const unsigned char*>(out.constData()), out.size());
    if (reread != out.size() || again.image() != cursor.image()
        || again.hotspotX() != cursor.hotspotX() || again.hotspotY() != cursor.hotspotY()
        || (again.type() & 0xFF) != (cursor.type() & 0xFF))
        std::abort();
    return 0;
}
