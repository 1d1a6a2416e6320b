// SPDX-License-Identifier: GPL-3.0-or-later
#include "ExportSettings.h"

#include <QFileInfo>

#include <cmath>

namespace {

int evenDown(int v)
{
    return v & ~1;
}

} // namespace

bool ExportSettings::containerFor(const QString& path, Container& container)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == QLatin1String("mp4")) {
        container = Mp4;
        return true;
    }
    if (suffix == QLatin1String("webm")) {
        container = WebM;
        return true;
    }
    return false;
}

int ExportSettings::crfFor(Container container) const
{
    if (crf >= 0)
        return crf;
    return container == Mp4 ? 23 : 32;
}

QString ExportSettings::check() const
{
    if (fps < 1 || fps > kMaxFps)
        return QStringLiteral("the frame rate must lie between 1 and %1, not %2").arg(kMaxFps).arg(fps);
    if (crf < -1 || crf > 63)
        return QStringLiteral("the quality (crf) must lie between 0 and 63, not %1").arg(crf);
    Container c;
    if (crf > 51 && containerFor(output, c) && c == Mp4)
        return QStringLiteral("the quality (crf) of H.264 must lie between 0 and 51, not %1").arg(crf);
    if (size.isValid() && (size.width() < kMinSide || size.height() < kMinSide
                           || size.width() > kMaxSide || size.height() > kMaxSide))
        return QStringLiteral("the size must lie between %1x%1 and %2x%2, not %3x%4")
            .arg(kMinSide).arg(kMaxSide).arg(size.width()).arg(size.height());
    if (!size.isValid() && height != 0 && (height < kMinSide || height > kMaxSide))
        return QStringLiteral("the height must lie between %1 and %2, not %3")
            .arg(kMinSide).arg(kMaxSide).arg(height);
    if (toMs != 0 && toMs <= fromMs)
        return QStringLiteral("the range ends (%1 s) before it starts (%2 s)")
            .arg(toMs / 1000.0, 0, 'f', 3).arg(fromMs / 1000.0, 0, 'f', 3);
    return QString();
}

QSize ExportSettings::videoSizeFor(QSize screen) const
{
    if (size.isValid())
        return QSize(evenDown(size.width()), evenDown(size.height()));
    if (screen.width() <= 0 || screen.height() <= 0)
        return QSize();
    if (height > 0) {
        const double w = static_cast<double>(screen.width()) * height / screen.height();
        const int width = std::max(kMinSide, std::min(kMaxSide, static_cast<int>(std::lround(w))));
        return QSize(evenDown(width), evenDown(height));
    }
    // A screen larger than any encoder takes is scaled down, aspect kept.
    QSize s = screen;
    if (s.width() > kMaxSide || s.height() > kMaxSide)
        s = s.scaled(kMaxSide, kMaxSide, Qt::KeepAspectRatio);
    return QSize(std::max(2, evenDown(s.width())), std::max(2, evenDown(s.height())));
}
