// SPDX-License-Identifier: GPL-3.0-or-later
#include "VtrCursor.h"

#include <algorithm>
#include <cstring>

#include <QByteArray>
#include <QPainter>
#include <QtEndian>

#include "ByteReader.h"

// Records hold pixels as B, G, R, A bytes, which is exactly how a 32-bit
// QImage keeps 0xAARRGGBB in memory on a little-endian machine: rows are
// copied as they are.
static_assert(Q_BYTE_ORDER == Q_LITTLE_ENDIAN, "cursor pixel rows are copied as little-endian");

VtrCursor::VtrCursor()
    : m_width(0), m_height(0), m_hotspotX(0), m_hotspotY(0), m_type(2), m_capturer(this)
{
    m_capturer.initialize();
}

VtrCursor::VtrCursor(QImage* image, int hotX, int hotY) : VtrCursor()
{
    create(image, hotX, hotY);
}

VtrCursor::~VtrCursor() = default;

bool VtrCursor::create(QImage* image, int hotX, int hotY)
{
    if (!image) {
        clear();
        m_image = QImage();
        return false;
    }
    m_image = image->convertToFormat(QImage::Format_ARGB32);
    m_width = m_image.width();
    m_height = m_image.height();
    m_hotspotX = hotX;
    m_hotspotY = hotY;
    m_type = 2;
    return true;
}

void VtrCursor::clear()
{
    m_width = m_height = 0;
    m_hotspotX = m_hotspotY = 0;
    m_type = 2;
}

int VtrCursor::deserialize(const unsigned char* data, int length)
{
    ByteReader in(data, length);
    unsigned type = 0, width = 0, height = 0, hotX = 0, hotY = 0, pixelBytes = 0;
    if (!in.readU8(type) || !in.readU16BE(width) || !in.readU16BE(height) || !in.readU16BE(hotX)
        || !in.readU16BE(hotY) || !in.readU16BE(pixelBytes))
        return 0;
    const unsigned char* pixels = nullptr;
    if (!in.take(static_cast<int>(pixelBytes), pixels))
        return 0;
    if (width == 0 || height == 0 || width > MAX_SIZE || height > MAX_SIZE)
        return 0;

    const int w = static_cast<int>(width);
    const int h = static_cast<int>(height);
    QImage image(w, h, type == 2 ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    if (image.isNull())
        return 0;

    // Pixel bytes go in row by row (QImage may pad its rows); whatever the
    // record does not cover stays zero, and bytes beyond the image are skipped.
    int left = std::min(static_cast<int>(pixelBytes), w * h * 4);
    const unsigned char* src = pixels;
    for (int y = 0; y < h; ++y) {
        unsigned char* line = image.scanLine(y);
        const int n = std::min(left, w * 4);
        std::memcpy(line, src, static_cast<size_t>(n));
        std::memset(line + n, 0, static_cast<size_t>(w * 4 - n));
        src += n;
        left -= n;
    }

    m_type = static_cast<int>(type);
    m_width = w;
    m_height = h;
    m_hotspotX = static_cast<int>(hotX);
    m_hotspotY = static_cast<int>(hotY);
    m_image = image;
    return in.position();
}

bool VtrCursor::serialize(QByteArray& out) const
{
    const long long pixelBytes = static_cast<long long>(m_width) * m_height * 4;
    if (m_width < 0 || m_height < 0 || pixelBytes > MAX_PIXEL_BYTES || m_hotspotX < 0
        || m_hotspotX > 0xFFFF || m_hotspotY < 0 || m_hotspotY > 0xFFFF) {
        out.clear();
        return false;
    }

    out.resize(HEADER_SIZE + static_cast<int>(pixelBytes));
    auto* dst = reinterpret_cast<unsigned char*>(out.data());
    auto put16 = [&dst](int v) {
        *dst++ = static_cast<unsigned char>((v >> 8) & 0xFF);
        *dst++ = static_cast<unsigned char>(v & 0xFF);
    };
    *dst++ = static_cast<unsigned char>(m_type & 0xFF);
    put16(m_width);
    put16(m_height);
    put16(m_hotspotX);
    put16(m_hotspotY);
    put16(static_cast<int>(pixelBytes));

    // The image always matches the sizes except after clear(), where both are
    // 0; zeros stand in for any row the image lacks all the same.
    const int rowBytes = m_width * 4;
    for (int y = 0; y < m_height; ++y) {
        const bool haveRow = y < m_image.height() && m_image.width() >= m_width
            && m_image.depth() == 32;
        if (haveRow)
            std::memcpy(dst, m_image.constScanLine(y), static_cast<size_t>(rowBytes));
        else
            std::memset(dst, 0, static_cast<size_t>(rowBytes));
        dst += rowBytes;
    }
    return true;
}

bool VtrCursor::isDrawable() const
{
    return !m_image.isNull() && m_width > 0 && m_height > 0;
}

void VtrCursor::draw(QPainter* p, int x, int y) const
{
    if (!p || !isDrawable() || m_type != 2)
        return;
    const QPainter::CompositionMode mode = p->compositionMode();
    p->setCompositionMode(QPainter::CompositionMode_SourceOver);
    p->drawImage(x - m_hotspotX, y - m_hotspotY, m_image);
    p->setCompositionMode(mode);
}

void VtrCursor::stretch(QPainter* p, int x, int y, int w, int h) const
{
    if (!p || !isDrawable() || m_type != 2 || w <= 0 || h <= 0)
        return;
    const QImage scaled = m_image.scaled(w, h, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    // 64-bit: a 16-bit hot spot times a large target size overflows an int.
    const long long offX = static_cast<long long>(m_hotspotX) * w / m_width;
    const long long offY = static_cast<long long>(m_hotspotY) * h / m_height;
    const QPainter::CompositionMode mode = p->compositionMode();
    p->setCompositionMode(QPainter::CompositionMode_SourceOver);
    p->drawImage(QPointF(static_cast<double>(x - offX), static_cast<double>(y - offY)), scaled);
    p->setCompositionMode(mode);
}

void VtrCursor::drawCursor(QPainter& p, int x, int y, const QImage& image) const
{
    if (m_type != 2)
        return;
    const QPainter::CompositionMode mode = p.compositionMode();
    p.setCompositionMode(QPainter::CompositionMode_SourceOver);
    p.drawImage(x, y, image);
    p.setCompositionMode(mode);
}

bool VtrCursor::capture(unsigned int id)
{
    return m_capturer.capture(id);
}

unsigned int VtrCursor::getActiveCursor()
{
    return m_capturer.getCurrentCursorID();
}
