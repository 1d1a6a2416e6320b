// SPDX-License-Identifier: GPL-3.0-or-later
#include "DemoScene.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

// ---- Deterministic randomness ----

uint64_t mix(uint64_t x)
{
    x += 0x9E3779B97F4A7C15ULL;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
    return x ^ (x >> 31);
}

class Random
{
public:
    explicit Random(uint64_t seed) : m_state(mix(seed)) {}
    uint64_t next() { return m_state = mix(m_state); }
    // Uniform in [0, n).
    int below(int n) { return n <= 0 ? 0 : static_cast<int>(next() % static_cast<uint64_t>(n)); }
    // Uniform in [a, b].
    int between(int a, int b) { return a + below(b - a + 1); }
    double unit() { return (next() >> 11) * (1.0 / 9007199254740992.0); }

private:
    uint64_t m_state;
};

// Value noise in [0, 1] on an integer lattice, smoothly interpolated.
double lattice(int x, int y, uint64_t seed)
{
    const uint64_t h = mix(seed ^ (static_cast<uint64_t>(static_cast<uint32_t>(x)) << 32)
                           ^ static_cast<uint32_t>(y));
    return (h >> 11) * (1.0 / 9007199254740992.0);
}

double smooth(double t)
{
    return t * t * (3 - 2 * t);
}

double noise(double x, double y, uint64_t seed)
{
    const int xi = static_cast<int>(std::floor(x));
    const int yi = static_cast<int>(std::floor(y));
    const double fx = smooth(x - xi), fy = smooth(y - yi);
    const double a = lattice(xi, yi, seed), b = lattice(xi + 1, yi, seed);
    const double c = lattice(xi, yi + 1, seed), d = lattice(xi + 1, yi + 1, seed);
    return (a + (b - a) * fx) * (1 - fy) + (c + (d - c) * fx) * fy;
}

double fbm(double x, double y, uint64_t seed, int octaves)
{
    double sum = 0, amp = 0.5, norm = 0;
    for (int i = 0; i < octaves; ++i) {
        sum += amp * noise(x, y, seed + static_cast<uint64_t>(i) * 7919);
        norm += amp;
        x *= 2.03;
        y *= 2.03;
        amp *= 0.5;
    }
    return sum / norm;
}

// ---- Colours ----

constexpr unsigned int rgb(int r, int g, int b)
{
    return 0xFF000000u | (static_cast<unsigned>(r & 0xFF) << 16)
        | (static_cast<unsigned>(g & 0xFF) << 8) | static_cast<unsigned>(b & 0xFF);
}

int clampByte(double v)
{
    return v < 0 ? 0 : v > 255 ? 255 : static_cast<int>(v + 0.5);
}

struct Colour
{
    double r, g, b;
    unsigned int pixel() const { return rgb(clampByte(r), clampByte(g), clampByte(b)); }
};

Colour lerp(const Colour& a, const Colour& b, double t)
{
    t = std::clamp(t, 0.0, 1.0);
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

Colour colourOf(unsigned int p)
{
    return {double((p >> 16) & 0xFF), double((p >> 8) & 0xFF), double(p & 0xFF)};
}

const unsigned int kText = rgb(0x1F, 0x23, 0x28);
const unsigned int kMuted = rgb(0x6A, 0x73, 0x7D);
const unsigned int kWhite = rgb(0xFF, 0xFF, 0xFF);
const unsigned int kAccent = rgb(0x2F, 0x6F, 0xB0);
const unsigned int kLink = rgb(0x0B, 0x5C, 0xAD);
const unsigned int kLinkHover = rgb(0xC2, 0x3B, 0x22);

constexpr int kTitleBar = 24;
constexpr int kLineHeight = 13;
constexpr int kGlyph = VideoFrame::FONT_WIDTH;

// ---- Drawing helpers on a whole frame ----

void fillRect(VideoFrame& f, int x, int y, int w, int h, unsigned int c)
{
    if (w > 0 && h > 0)
        f.bar(x, y, x + w - 1, y + h - 1, c);
}

void frameRect(VideoFrame& f, int x, int y, int w, int h, unsigned int c)
{
    if (w > 0 && h > 0)
        f.rectangle(x, y, x + w - 1, y + h - 1, c);
}

void text(VideoFrame& f, int x, int y, const QString& s, unsigned int c, int size = 1)
{
    f.drawText(x, y, s.toLatin1().constData(), c, size);
}

void boldText(VideoFrame& f, int x, int y, const QString& s, unsigned int c)
{
    text(f, x, y, s, c);
    text(f, x + 1, y, s, c);
}

// Copies `src` into `dst` at (x, y), clipped.
void blit(VideoFrame& dst, const VideoFrame& src, int x, int y, int srcX = 0, int srcY = 0,
          int w = -1, int h = -1)
{
    if (w < 0)
        w = src.width();
    if (h < 0)
        h = src.height();
    VideoFrame::copy(dst.pixels(), dst.width(), dst.height(), src.pixels(), src.width(),
                     src.height(), x, y, w, h, srcX, srcY);
}

// Rounded-looking button: a filled rectangle with its corner pixels cut.
void button(VideoFrame& f, int x, int y, int w, int h, unsigned int fill, unsigned int border,
            unsigned int background)
{
    fillRect(f, x, y, w, h, fill);
    frameRect(f, x, y, w, h, border);
    f.setPixel(x, y, background);
    f.setPixel(x + w - 1, y, background);
    f.setPixel(x, y + h - 1, background);
    f.setPixel(x + w - 1, y + h - 1, background);
}

// ---- Text of the notes and the document ----

const char* const kTitles[] = {
    "Weekly design review - notes", "Release planning - notes", "Customer call - notes",
    "Playback team sync - notes",   "Quarterly review - notes",
};
const char* const kSections[] = {"Agenda", "Decisions", "Action items", "Open questions",
                                 "Risks", "Next steps", "Follow-ups"};
const char* const kBullets[] = {
    "Seek should land on the right frame even without an index.",
    "Index files are rebuilt when they do not match the recording.",
    "Ana to measure key-frame restore times on the older laptops.",
    "The control bar hides after three seconds without mouse moves.",
    "Audio stays muted at any speed other than normal.",
    "Ben shares the sample recordings with the support team.",
    "We keep the file format as it is; readers must stay tolerant.",
    "Long recordings (two hours and more) need a progress bar while indexing.",
    "Chloe reviews the wording of the error messages.",
    "Zoom to fit keeps the aspect ratio of the remote screen.",
    "Decide whether 20x playback is fast enough for review sessions.",
    "Dev checks memory use while seeking through a one-hour file.",
    "The first screen must be complete before playback starts.",
    "Full screen mode keeps the control bar reachable.",
    "Truncated recordings play up to the last complete unit.",
    "Add a short how-to for building an index from the command line.",
    "Pointer shapes come from the recording; unknown ones show an arrow.",
    "Try the new build on the conference room machine on Thursday.",
    "Photos and video areas use JPEG boxes; text stays lossless.",
    "Collect feedback from the first ten customers by Friday.",
};
const char* const kWords[] = {
    "the", "recording", "screen", "player", "index", "frame", "session", "update", "team",
    "review", "playback", "seek", "box", "grid", "speed", "audio", "pointer", "window",
    "users", "keeps", "shows", "reads", "decodes", "faster", "every", "second", "with",
    "and", "for", "from", "when", "while", "which", "remote", "desktop", "changes",
    "quality", "stable", "format", "long", "short", "files", "data", "time", "key",
};

QString sentence(Random& rnd, int minWords, int maxWords)
{
    const int n = rnd.between(minWords, maxWords);
    QString s;
    for (int i = 0; i < n; ++i) {
        QString w = QString::fromLatin1(kWords[rnd.below(int(sizeof kWords / sizeof *kWords))]);
        if (i == 0)
            w[0] = w[0].toUpper();
        s += (i ? QStringLiteral(" ") : QString()) + w;
    }
    return s + QLatin1Char('.');
}

// ---- The story, in seconds of a 60-second cycle ----

constexpr double kStory = 60.0;
constexpr double kPauseStart = 40.5;
constexpr double kPauseEnd = 43.5;
constexpr double kScrollStart = 16.5;
constexpr double kNotchGap = 0.45;
constexpr int kNotchPx = 39; // three lines of the document per wheel notch
constexpr double kClicks[] = {28.6, 31.6};
constexpr double kDragStart = 35.0;
constexpr double kDragEnd = 36.6;

// Typing happens in these spans.
constexpr double kTyping[][2] = {{0.5, 14.0}, {38.6, kPauseStart}, {kPauseEnd + 0.3, 59.8}};

// Wheel notches: ten down, a pause on a link, four more.
int notchesAt(double s)
{
    int n = 0;
    for (int k = 0; k < 10; ++k)
        if (s >= kScrollStart + k * kNotchGap)
            ++n;
    for (int k = 0; k < 4; ++k)
        if (s >= 24.6 + k * kNotchGap)
            ++n;
    return n;
}

double ease(double t)
{
    t = std::clamp(t, 0.0, 1.0);
    return t < 0.5 ? 4 * t * t * t : 1 - std::pow(-2 * t + 2, 3) / 2;
}

} // namespace

DemoScene::DemoScene(int width, int height, uint64_t durationMs, uint64_t seed)
    : m_width(width), m_height(height), m_duration(durationMs), m_seed(seed)
{
    m_cycleMs = durationMs >= 60000 ? 60000 : std::max<uint64_t>(durationMs, 1000);
    m_taskbar = 32;
    buildWallpaper();
    buildDocument();
    buildText(seed);
    buildTyping(seed);
}

DemoScene::~DemoScene() = default;

void DemoScene::storyTime(uint64_t t, uint64_t& cycle, double& s) const
{
    cycle = t / m_cycleMs;
    s = double(t % m_cycleMs) * kStory / double(m_cycleMs);
}

bool DemoScene::isPaused(uint64_t t) const
{
    uint64_t cycle;
    double s;
    storyTime(t, cycle, s);
    return s >= kPauseStart && s < kPauseEnd;
}

uint64_t DemoScene::pauseStart(uint64_t t) const
{
    const uint64_t cycle = t / m_cycleMs;
    return cycle * m_cycleMs
        + static_cast<uint64_t>(std::ceil(kPauseStart * double(m_cycleMs) / kStory));
}

DemoScene::Window DemoScene::activeWindow(double s) const
{
    if (s >= 15.0 && s < 27.6)
        return VIEWER;
    if (s >= 27.6 && s < 38.0)
        return PHOTOS;
    return EDITOR;
}

DemoScene::Rect DemoScene::windowRect(Window w, uint64_t cycle, double s) const
{
    const int W = m_width, H = m_height;
    switch (w) {
    case EDITOR:
        return {W * 6 / 100, H * 5 / 100, W * 50 / 100, H * 64 / 100};
    case VIEWER:
        return {W * 40 / 100, H * 10 / 100, W * 55 / 100, H * 66 / 100};
    default: {
        // Dragged from A to B in even cycles and back in odd ones.
        const int ax = W * 18 / 100, ay = H * 36 / 100, bx = W * 52 / 100, by = H * 24 / 100;
        double p = ease((s - kDragStart) / (kDragEnd - kDragStart));
        if (cycle % 2)
            p = 1 - p;
        // Before this cycle's drag the window is where the last drag left it.
        const double from = cycle % 2 ? 1.0 : 0.0;
        if (s < kDragStart)
            p = from;
        return {ax + static_cast<int>(std::lround((bx - ax) * p)),
                ay + static_cast<int>(std::lround((by - ay) * p)), W * 40 / 100, H * 52 / 100};
    }
    }
}

int DemoScene::viewerScroll(uint64_t cycle, double s) const
{
    const int n = notchesAt(s) * kNotchPx;
    return cycle % 2 ? 14 * kNotchPx - n : n;
}

int DemoScene::photoIndex(uint64_t cycle, double s) const
{
    int clicks = 0;
    for (double c : kClicks)
        if (s >= c)
            ++clicks;
    return static_cast<int>(cycle % 1000) * 2 + clicks;
}

bool DemoScene::hoverLink(double s) const
{
    return s >= 22.0 && s < 24.0;
}

int DemoScene::hoverLinkY(uint64_t cycle) const
{
    // The link nearest the middle of the view while the pointer rests on it.
    const Rect r = windowRect(VIEWER, cycle, 0);
    const int viewH = r.h - kTitleBar - 34 - 1;
    const int middle = viewerScroll(cycle, 22.0) + viewH / 2;
    int best = m_links.empty() ? 0 : m_links.front();
    for (int y : m_links)
        if (std::abs(y - middle) < std::abs(best - middle))
            best = y;
    return best;
}

int DemoScene::typedChars(uint64_t t) const
{
    return static_cast<int>(std::upper_bound(m_typeTimes.begin(), m_typeTimes.end(), t)
                            - m_typeTimes.begin());
}

// ---- Building the fixed parts ----

void DemoScene::buildWallpaper()
{
    VideoFrame& f = m_wallpaper;
    f.resize(m_width, m_height);
    const Colour top = colourOf(rgb(0x14, 0x2E, 0x4C));
    const Colour bottom = colourOf(rgb(0x3A, 0x8A, 0x96));
    // Bands of four rows: a smooth sky that stays a few colours per box.
    for (int y = 0; y < m_height; ++y) {
        const unsigned int c = lerp(top, bottom, double(y / 4 * 4) / m_height).pixel();
        f.hLine(0, m_width - 1, y, c);
    }
    // Two rows of hills.
    const unsigned int hills[] = {rgb(0x24, 0x5E, 0x6C), rgb(0x1A, 0x47, 0x55)};
    for (int layer = 0; layer < 2; ++layer) {
        for (int x = 0; x < m_width; ++x) {
            const double u = double(x) / m_width;
            const double base = m_height * (0.70 + 0.09 * layer);
            const double y = base + m_height * 0.05 * std::sin(u * (5.1 + layer * 2.3) + layer)
                + m_height * 0.02 * std::sin(u * 17.0 + 2 * layer);
            f.vLine(x, static_cast<int>(y), m_height - 1, hills[layer]);
        }
    }
    // A moon.
    f.circle(m_width * 86 / 100, m_height * 16 / 100, std::max(8, m_height / 22),
             rgb(0xF3, 0xE3, 0xB5), true);

    // Desktop icons.
    const char* const names[] = {"Documents", "Photos", "Projects", "Sessions", "Trash"};
    const unsigned int colours[] = {rgb(0xF2, 0xB1, 0x34), rgb(0x5C, 0xB8, 0x5C),
                                    rgb(0x4F, 0x8F, 0xD9), rgb(0xD9, 0x53, 0x4F),
                                    rgb(0x9A, 0xA4, 0xAE)};
    const int step = std::max(64, m_height / 9);
    for (int i = 0; i < 5 && 16 + i * step + 60 < m_height - m_taskbar; ++i) {
        const int x = 18, y = 16 + i * step;
        fillRect(f, x + 3, y + 3, 40, 34, rgb(0x0E, 0x22, 0x33));
        button(f, x, y, 40, 34, colours[i], rgb(0x20, 0x20, 0x20), f.getPixel(x, y));
        fillRect(f, x + 6, y + 8, 28, 3, kWhite);
        fillRect(f, x + 6, y + 15, 20, 3, kWhite);
        fillRect(f, x + 6, y + 22, 24, 3, kWhite);
        const int tw = static_cast<int>(std::strlen(names[i])) * kGlyph;
        f.drawTextOutline(std::max(2, x + 20 - tw / 2), y + 40, names[i], kWhite,
                          rgb(0x10, 0x18, 0x20));
    }
}

void DemoScene::buildDocument()
{
    const Rect r = windowRect(VIEWER, 0, 0);
    const int sidebar = r.w * 22 / 100;
    const int docW = std::max(64, r.w - sidebar - 2 - 12);
    const int viewH = std::max(64, r.h - kTitleBar - 34 - 1);
    const int docH = std::max(viewH + 14 * kNotchPx + 40, viewH * 4);
    VideoFrame& d = m_document;
    d.resize(docW, docH);
    d.clear(kWhite);
    Random rnd(m_seed * 31 + 7);
    const int margin = 18;
    const int lineChars = std::max(10, (docW - 2 * margin) / kGlyph);
    int y = 16;
    int section = 1;
    text(d, margin, y, QStringLiteral("Playback project plan"), rgb(0x1F, 0x3B, 0x57), 2);
    y += 30;
    text(d, margin, y, QStringLiteral("Status: in progress   Owner: playback team"), kMuted);
    y += 22;
    while (y < docH - 160) {
        m_sections.push_back(y);
        text(d, margin, y, QStringLiteral("%1. %2").arg(section).arg(
                               QString::fromLatin1(kSections[(section - 1) % 7])),
             rgb(0x1F, 0x3B, 0x57), 2);
        y += 28;
        // A paragraph, wrapped.
        QString para;
        for (int i = rnd.between(3, 5); i > 0; --i)
            para += sentence(rnd, 6, 12) + QLatin1Char(' ');
        const QStringList words = para.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        QString line;
        for (const QString& w : words) {
            if (line.size() + 1 + w.size() > lineChars) {
                text(d, margin, y, line, rgb(0x3A, 0x40, 0x47));
                y += kLineHeight;
                line.clear();
            }
            line += (line.isEmpty() ? QString() : QStringLiteral(" ")) + w;
        }
        if (!line.isEmpty()) {
            text(d, margin, y, line, rgb(0x3A, 0x40, 0x47));
            y += kLineHeight;
        }
        y += 6;
        // The section's link; its place is remembered for the pointer.
        const QString link = QStringLiteral("Read the details of section %1 >").arg(section);
        text(d, margin, y, link, kLink);
        d.hLine(margin, margin + link.size() * kGlyph - 3, y + 10, kLink);
        m_links.push_back(y);
        y += 22;
        // Then a table, a chart or a note.
        switch (section % 3) {
        case 0: {
            const int cw = (docW - 2 * margin) / 3;
            const char* const head[] = {"Item", "Owner", "Status"};
            fillRect(d, margin, y, cw * 3, 18, rgb(0xE3, 0xEA, 0xF2));
            for (int c = 0; c < 3; ++c)
                boldText(d, margin + 6 + c * cw, y + 5, QString::fromLatin1(head[c]), kText);
            const char* const owners[] = {"Ana", "Ben", "Chloe", "Dev", "Eli"};
            const char* const states[] = {"done", "in review", "open", "blocked"};
            for (int row = 0; row < 5; ++row) {
                const int ry = y + 18 + row * 18;
                fillRect(d, margin, ry, cw * 3, 18, row % 2 ? rgb(0xF6, 0xF8, 0xFA) : kWhite);
                QString item = sentence(rnd, 2, 3);
                item.chop(1);
                text(d, margin + 6, ry + 5, item.left(cw / kGlyph - 1), kText);
                text(d, margin + 6 + cw, ry + 5, QString::fromLatin1(owners[rnd.below(5)]), kText);
                const int st = rnd.below(4);
                const unsigned int sc[] = {rgb(0x2E, 0x8B, 0x57), rgb(0xB8, 0x86, 0x0B), kMuted,
                                           rgb(0xC0, 0x39, 0x2B)};
                text(d, margin + 6 + 2 * cw, ry + 5, QString::fromLatin1(states[st]), sc[st]);
            }
            frameRect(d, margin, y, cw * 3, 18 * 6, rgb(0xC8, 0xD1, 0xDB));
            y += 18 * 6 + 20;
            break;
        }
        case 1: {
            const int chartH = 110;
            const unsigned int bars[] = {rgb(0x4F, 0x8F, 0xD9), rgb(0x5C, 0xB8, 0x5C),
                                         rgb(0xF2, 0xB1, 0x34), rgb(0xD9, 0x53, 0x4F),
                                         rgb(0x8E, 0x6C, 0xC9), rgb(0x3A, 0xB0, 0xB0)};
            const int n = 6;
            const int bw = std::max(8, (docW - 2 * margin - 40) / n - 12);
            d.hLine(margin + 30, margin + 30 + n * (bw + 12), y + chartH, kMuted);
            d.vLine(margin + 30, y, y + chartH, kMuted);
            for (int i = 0; i < n; ++i) {
                const int h = rnd.between(20, chartH - 10);
                const int bx = margin + 40 + i * (bw + 12);
                fillRect(d, bx, y + chartH - h, bw, h, bars[i]);
                text(d, bx, y + chartH + 4, QStringLiteral("Q%1").arg(i % 4 + 1), kMuted);
            }
            for (int v = 0; v <= 2; ++v)
                text(d, margin, y + chartH - v * chartH / 2 - 4, QString::number(v * 50), kMuted);
            y += chartH + 34;
            break;
        }
        default: {
            const int h = 46;
            fillRect(d, margin, y, docW - 2 * margin, h, rgb(0xFF, 0xF6, 0xD6));
            frameRect(d, margin, y, docW - 2 * margin, h, rgb(0xE8, 0xC9, 0x6A));
            fillRect(d, margin, y, 4, h, rgb(0xE0, 0xA8, 0x20));
            boldText(d, margin + 14, y + 10, QStringLiteral("Note"), rgb(0x7A, 0x5A, 0x00));
            QString s = sentence(rnd, 5, 9);
            text(d, margin + 14, y + 26, s.left((docW - 2 * margin - 20) / kGlyph), kText);
            y += h + 22;
            break;
        }
        }
        ++section;
    }
}

void DemoScene::buildText(uint64_t seed)
{
    Random rnd(seed * 7 + 3);
    const Rect r = windowRect(EDITOR, 0, 0);
    m_columns = std::max(20, (r.w - 2 - 40 - 16) / kGlyph);
    // Enough text for the fastest typist over the whole recording.
    const int wanted = static_cast<int>(m_duration / 60) + 200;
    QString t;
    while (t.size() < wanted) {
        t += QStringLiteral("# ") + QString::fromLatin1(kTitles[rnd.below(5)]) + QLatin1Char('\n');
        t += QStringLiteral("Attendees: Ana, Ben, Chloe, Dev\n\n");
        for (int s = rnd.between(3, 4); s > 0; --s) {
            t += QStringLiteral("## ") + QString::fromLatin1(kSections[rnd.below(7)])
                + QLatin1Char('\n');
            for (int b = rnd.between(2, 4); b > 0; --b)
                t += QStringLiteral("- ") + QString::fromLatin1(kBullets[rnd.below(20)])
                    + QLatin1Char('\n');
            t += QLatin1Char('\n');
        }
    }
    m_text = t;

    // Wrap into lines of at most m_columns characters, at blanks.
    m_lineStarts.clear();
    int start = 0;
    while (start <= m_text.size()) {
        m_lineStarts.push_back(start);
        int end = m_text.indexOf(QLatin1Char('\n'), start);
        if (end < 0)
            end = m_text.size();
        if (end - start > m_columns) {
            int cut = m_text.lastIndexOf(QLatin1Char(' '), start + m_columns);
            start = cut > start ? cut + 1 : start + m_columns;
        } else {
            start = end + 1;
        }
    }
}

void DemoScene::buildTyping(uint64_t seed)
{
    Random rnd(seed * 13 + 5);
    m_typeTimes.clear();
    const int total = static_cast<int>(m_text.size());
    int i = 0;
    for (uint64_t cycle = 0; cycle * m_cycleMs < m_duration && i < total; ++cycle) {
        for (const auto& span : kTyping) {
            const double scale = double(m_cycleMs) / kStory;
            uint64_t t = cycle * m_cycleMs + static_cast<uint64_t>(span[0] * scale);
            const uint64_t end = cycle * m_cycleMs + static_cast<uint64_t>(span[1] * scale);
            while (i < total) {
                const QChar prev = i > 0 ? m_text[i - 1] : QChar();
                int delay = rnd.between(45, 125);
                if (prev == QLatin1Char('\n'))
                    delay += rnd.between(350, 700);
                else if (prev == QLatin1Char('.') || prev == QLatin1Char(','))
                    delay += rnd.between(200, 450);
                else if (rnd.below(25) == 0)
                    delay += rnd.between(250, 600); // a moment of thought
                if (t + delay >= end)
                    break;
                t += delay;
                m_typeTimes.push_back(t);
                ++i;
            }
        }
    }
}

void DemoScene::makePhoto(int index)
{
    if (index == m_photoIndex)
        return;
    m_photoIndex = index;
    const int w = m_photoW, h = m_photoH;
    m_photo.resize(w, h);
    const uint64_t seed = m_seed * 1000003 + static_cast<uint64_t>(index);
    Random rnd(seed);

    struct Palette
    {
        Colour skyTop, skyLow, sun, far, mid, nearTop, nearLow, water;
    };
    const Palette palettes[] = {
        // Day.
        {{40, 110, 200}, {170, 210, 240}, {255, 250, 220}, {120, 150, 185}, {70, 110, 90},
         {55, 95, 45}, {30, 60, 30}, {30, 80, 120}},
        // Sunset.
        {{60, 50, 120}, {250, 150, 80}, {255, 220, 140}, {130, 80, 110}, {80, 50, 80},
         {45, 35, 55}, {25, 20, 35}, {90, 60, 90}},
        // Dusk.
        {{15, 25, 60}, {90, 100, 150}, {235, 235, 255}, {60, 70, 110}, {35, 45, 75},
         {20, 30, 50}, {10, 15, 30}, {20, 30, 60}},
        // Morning mist.
        {{150, 180, 200}, {230, 225, 210}, {255, 245, 220}, {180, 190, 195}, {130, 150, 140},
         {90, 115, 90}, {60, 85, 60}, {120, 150, 160}},
    };
    const Palette& p = palettes[index % 4];
    const double horizon = h * (0.58 + 0.08 * rnd.unit());
    const double sunX = w * (0.2 + 0.6 * rnd.unit()), sunY = h * (0.18 + 0.2 * rnd.unit());
    const double sunR = h * 0.05;
    const double ridge[3] = {h * 0.34 + h * 0.06 * rnd.unit(), h * 0.44, h * 0.52};

    auto land = [&](double x, double y) -> Colour {
        // Sky with sun glow and clouds.
        Colour c = lerp(p.skyTop, p.skyLow, y / horizon);
        const double d = std::hypot(x - sunX, y - sunY);
        const double glow = std::exp(-(d * d) / (2 * (sunR * 3) * (sunR * 3)));
        c = lerp(c, p.sun, glow * 0.8);
        if (d < sunR)
            c = p.sun;
        const double cloud = fbm(x / (w * 0.18), y / (h * 0.08), seed + 11, 5);
        if (cloud > 0.55)
            c = lerp(c, Colour{250, 250, 250}, (cloud - 0.55) * 2.2 * (1 - y / horizon));
        // Three ridges, far to near.
        const Colour layer[3] = {p.far, p.mid, p.nearTop};
        for (int k = 0; k < 3; ++k) {
            const double top = ridge[k]
                + h * (0.16 - 0.04 * k) * (fbm(x / (w * (0.35 - 0.08 * k)), k * 3.7, seed + 100 + k, 5) - 0.5)
                + (k == 2 ? h * 0.06 : 0);
            if (y >= top) {
                const double tex = fbm(x / 9.0, y / 9.0, seed + 200 + k, 3);
                Colour m = k == 2 ? lerp(p.nearTop, p.nearLow, (y - top) / (h - top)) : layer[k];
                m = lerp(m, Colour{m.r * 0.7, m.g * 0.7, m.b * 0.7}, tex * (0.4 + 0.2 * k));
                c = m;
            }
        }
        return c;
    };

    unsigned int* px = m_photo.pixels();
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            Colour c;
            if (y < horizon) {
                c = land(x, y);
            } else {
                // A lake: the land mirrored, rippled and tinted.
                const double ripple = std::sin(y * 0.9 + 2 * fbm(x / 30.0, y / 6.0, seed + 300, 2)) * 2.0;
                const double my = std::max(0.0, 2 * horizon - y - 1);
                Colour m = land(std::clamp(x + ripple, 0.0, double(w - 1)), my);
                c = lerp(m, p.water, 0.35 + 0.3 * (y - horizon) / (h - horizon));
            }
            px[y * w + x] = c.pixel();
        }
    }
}

// ---- Drawing ----

void DemoScene::shadow(VideoFrame& f, const Rect& r)
{
    // Darkens a band below and to the right of the window.
    for (int pass = 0; pass < 2; ++pass) {
        const int off = pass ? 6 : 3;
        const unsigned int keep = pass ? 0xE0 : 0xC0; // x/256 of the brightness
        auto darken = [&](int x0, int y0, int x1, int y1) {
            for (int y = std::max(0, y0); y < std::min(f.height(), y1); ++y) {
                unsigned int* row = f.pixels() + static_cast<long>(y) * f.width();
                for (int x = std::max(0, x0); x < std::min(f.width(), x1); ++x) {
                    const unsigned int c = row[x];
                    const unsigned int r8 = ((c >> 16) & 0xFF) * keep >> 8;
                    const unsigned int g8 = ((c >> 8) & 0xFF) * keep >> 8;
                    const unsigned int b8 = (c & 0xFF) * keep >> 8;
                    row[x] = 0xFF000000u | r8 << 16 | g8 << 8 | b8;
                }
            }
        };
        darken(r.x + r.w, r.y + off, r.x + r.w + off, r.y + r.h + off);
        darken(r.x + off, r.y + r.h, r.x + r.w, r.y + r.h + off);
    }
}

void DemoScene::drawWindowFrame(VideoFrame& f, const Rect& r, const char* title, bool active) const
{
    shadow(f, r);
    const unsigned int bar = active ? kAccent : rgb(0xC9, 0xD1, 0xDB);
    const unsigned int ink = active ? kWhite : rgb(0x4A, 0x55, 0x63);
    fillRect(f, r.x, r.y, r.w, kTitleBar, bar);
    boldText(f, r.x + 10, r.y + 8, QString::fromLatin1(title), ink);
    // Minimise, maximise, close.
    const int by = r.y + 5;
    int bx = r.x + r.w - 3 * 22 - 4;
    f.hLine(bx + 6, bx + 14, by + 11, ink);
    bx += 22;
    frameRect(f, bx + 5, by + 3, 10, 9, ink);
    f.hLine(bx + 5, bx + 14, by + 4, ink);
    bx += 22;
    button(f, bx, by, 20, 14, active ? rgb(0xE0, 0x55, 0x55) : rgb(0xB8, 0xC0, 0xCA), bar, bar);
    f.line(bx + 7, by + 4, bx + 12, by + 9, kWhite);
    f.line(bx + 12, by + 4, bx + 7, by + 9, kWhite);
    frameRect(f, r.x, r.y, r.w, r.h, rgb(0x3C, 0x46, 0x54));
}

void DemoScene::drawWallpaper(VideoFrame& f) const
{
    std::memcpy(f.pixels(), m_wallpaper.pixels(), sizeof(unsigned int) * m_width * m_height);
}

void DemoScene::drawTaskbar(VideoFrame& f, uint64_t t, Window active) const
{
    const int y = m_height - m_taskbar;
    fillRect(f, 0, y, m_width, m_taskbar, rgb(0x1B, 0x21, 0x29));
    f.hLine(0, m_width - 1, y, rgb(0x2E, 0x37, 0x42));
    // The start button: four squares.
    const unsigned int logo[] = {rgb(0xE0, 0x55, 0x55), rgb(0x5C, 0xB8, 0x5C),
                                 rgb(0x4F, 0x8F, 0xD9), rgb(0xF2, 0xB1, 0x34)};
    for (int i = 0; i < 4; ++i)
        fillRect(f, 12 + (i % 2) * 9, y + 8 + (i / 2) * 9, 8, 8, logo[i]);
    const char* const names[] = {"notes.md - Editor", "Project plan - Viewer", "Photos"};
    const unsigned int icons[] = {rgb(0x4F, 0x8F, 0xD9), rgb(0xF2, 0xB1, 0x34),
                                  rgb(0x5C, 0xB8, 0x5C)};
    const int bw = std::min(180, (m_width - 220) / 3);
    for (int i = 0; i < 3; ++i) {
        const int x = 44 + i * (bw + 4);
        const bool on = i == active;
        fillRect(f, x, y + 3, bw, m_taskbar - 6, on ? rgb(0x34, 0x40, 0x4F) : rgb(0x25, 0x2C, 0x36));
        if (on)
            fillRect(f, x, y + m_taskbar - 5, bw, 2, rgb(0x4F, 0xA3, 0xE0));
        fillRect(f, x + 8, y + 10, 12, 12, icons[i]);
        text(f, x + 26, y + 12, QString::fromLatin1(names[i]).left((bw - 30) / kGlyph),
             rgb(0xE6, 0xE9, 0xEE));
    }
    // Tray: network bars, a speaker and the clock.
    const int cx = m_width - 86;
    for (int i = 0; i < 4; ++i)
        fillRect(f, cx - 60 + i * 4, y + 21 - i * 3, 3, 3 + i * 3, rgb(0xC8, 0xD0, 0xDA));
    fillRect(f, cx - 34, y + 13, 4, 6, rgb(0xC8, 0xD0, 0xDA));
    f.line(cx - 30, y + 13, cx - 26, y + 9, rgb(0xC8, 0xD0, 0xDA));
    f.line(cx - 30, y + 18, cx - 26, y + 22, rgb(0xC8, 0xD0, 0xDA));
    f.vLine(cx - 26, y + 9, y + 22, rgb(0xC8, 0xD0, 0xDA));
    const uint64_t secs = 9 * 3600 + 41 * 60 + t / 1000;
    const QString clock = QStringLiteral("%1:%2:%3")
                              .arg((secs / 3600) % 24, 2, 10, QLatin1Char('0'))
                              .arg((secs / 60) % 60, 2, 10, QLatin1Char('0'))
                              .arg(secs % 60, 2, 10, QLatin1Char('0'));
    text(f, cx, y + 12, clock, rgb(0xE6, 0xE9, 0xEE));
}

void DemoScene::drawEditor(VideoFrame& f, const Rect& r, uint64_t t, bool active)
{
    drawWindowFrame(f, r, "notes.md - Editor", active);
    const int x0 = r.x + 1, w = r.w - 2;
    int y = r.y + kTitleBar;
    // Menu bar.
    fillRect(f, x0, y, w, 20, rgb(0xF3, 0xF4, 0xF6));
    const char* const menu[] = {"File", "Edit", "View", "Format", "Help"};
    int mx = x0 + 8;
    for (const char* m : menu) {
        text(f, mx, y + 6, QString::fromLatin1(m), rgb(0x33, 0x33, 0x33));
        mx += (static_cast<int>(std::strlen(m)) + 2) * kGlyph;
    }
    f.hLine(x0, x0 + w - 1, y + 19, rgb(0xDD, 0xE1, 0xE6));
    y += 20;
    const int statusH = 18;
    const int areaH = r.y + r.h - 1 - statusH - y;
    const int gutter = 40;
    fillRect(f, x0, y, gutter, areaH, rgb(0xEE, 0xF0, 0xF3));
    fillRect(f, x0 + gutter, y, w - gutter, areaH, kWhite);

    // Lines typed so far.
    const int typed = typedChars(t);
    const int lines = static_cast<int>(m_lineStarts.size());
    int cur = static_cast<int>(std::upper_bound(m_lineStarts.begin(), m_lineStarts.end(), typed)
                               - m_lineStarts.begin()) - 1;
    cur = std::max(0, cur);
    const int visible = std::max(1, (areaH - 8) / kLineHeight);
    const int top = std::max(0, cur - (visible - 2));
    const int tx = x0 + gutter + 8;
    int caretX = tx, caretY = y + 4;
    for (int i = 0; i < visible && top + i < lines; ++i) {
        const int li = top + i;
        const int start = m_lineStarts[li];
        if (start > typed)
            break;
        const int next = li + 1 < lines ? m_lineStarts[li + 1] : m_text.size();
        int len = next - start;
        while (len > 0 && (m_text[start + len - 1] == QLatin1Char('\n')
                           || m_text[start + len - 1] == QLatin1Char(' ')))
            --len;
        const int shown = std::min(len, typed - start);
        const QString line = m_text.mid(start, shown);
        const int ly = y + 4 + i * kLineHeight;
        text(f, x0 + 4, ly, QStringLiteral("%1").arg(li + 1, 3), rgb(0x9A, 0xA3, 0xAE));
        if (line.startsWith(QLatin1Char('#')))
            boldText(f, tx, ly, line, rgb(0x0B, 0x5C, 0xAD));
        else
            text(f, tx, ly, line, kText);
        if (line.startsWith(QLatin1String("- ")))
            text(f, tx, ly, QStringLiteral("-"), kAccent);
        if (li == cur) {
            caretX = tx + (typed - start) * kGlyph;
            caretY = ly;
        }
    }
    // The caret blinks, but stays on while keys are being pressed.
    const bool recent = typed > 0 && t - m_typeTimes[typed - 1] < 500;
    if (active && (recent || (t / 530) % 2 == 0))
        fillRect(f, caretX, caretY - 2, 2, 12, kText);

    // Status bar.
    const int sy = r.y + r.h - 1 - statusH;
    fillRect(f, x0, sy, w, statusH, kAccent);
    const int col = typed - m_lineStarts[cur] + 1;
    text(f, x0 + 8, sy + 5, QStringLiteral("Ln %1, Col %2").arg(cur + 1).arg(col), kWhite);
    const QString right = QStringLiteral("Markdown   UTF-8");
    text(f, x0 + w - 8 - right.size() * kGlyph, sy + 5, right, kWhite);
}

void DemoScene::drawViewer(VideoFrame& f, const Rect& r, int scroll, int hoverLinkY,
                           bool active) const
{
    drawWindowFrame(f, r, "Project plan - Viewer", active);
    const int x0 = r.x + 1, w = r.w - 2;
    int y = r.y + kTitleBar;
    // Toolbar with the address field.
    fillRect(f, x0, y, w, 34, rgb(0xEE, 0xF1, 0xF5));
    for (int i = 0; i < 3; ++i)
        button(f, x0 + 8 + i * 26, y + 7, 22, 20, kWhite, rgb(0xC3, 0xCB, 0xD5),
               rgb(0xEE, 0xF1, 0xF5));
    text(f, x0 + 15, y + 13, QStringLiteral("<"), kMuted);
    text(f, x0 + 41, y + 13, QStringLiteral(">"), kMuted);
    f.circle(x0 + 8 + 2 * 26 + 11, y + 17, 5, kMuted, false);
    button(f, x0 + 92, y + 7, w - 104, 20, kWhite, rgb(0xC3, 0xCB, 0xD5), rgb(0xEE, 0xF1, 0xF5));
    text(f, x0 + 100, y + 13, QStringLiteral("https://intranet/projects/playback/plan"), kMuted);
    f.hLine(x0, x0 + w - 1, y + 33, rgb(0xD5, 0xDB, 0xE2));
    y += 34;
    const int viewH = r.y + r.h - 1 - y;
    const int sidebar = r.w * 22 / 100;
    fillRect(f, x0, y, sidebar, viewH, rgb(0xF5, 0xF7, 0xFA));
    f.vLine(x0 + sidebar, y, y + viewH - 1, rgb(0xDD, 0xE2, 0xE8));
    const int docH = m_document.height();
    const int maxScroll = std::max(0, docH - viewH);
    const int top = std::clamp(scroll, 0, maxScroll);
    // The section being read: the last one whose heading is near the top.
    int current = 0;
    for (size_t i = 0; i < m_sections.size(); ++i)
        if (m_sections[i] <= top + viewH / 3)
            current = static_cast<int>(i % 7);
    for (int i = 0; i < 7 && 14 + i * 22 < viewH; ++i) {
        const int iy = y + 10 + i * 22;
        if (i == current)
            fillRect(f, x0 + 4, iy - 4, sidebar - 8, 18, rgb(0xDC, 0xE8, 0xF7));
        text(f, x0 + 12, iy, QStringLiteral("%1. %2").arg(i + 1).arg(QString::fromLatin1(kSections[i])).left((sidebar - 16) / kGlyph),
             i == current ? kLink : rgb(0x44, 0x4C, 0x56));
    }
    // The document, scrolled, and its scroll bar.
    const int dx = x0 + sidebar + 1;
    blit(f, m_document, dx, y, 0, top, m_document.width(), viewH);
    if (hoverLinkY >= 0) {
        // The link under the pointer turns red.
        const int ly = hoverLinkY - top;
        if (ly >= 0 && ly < viewH - 12) {
            for (int py = 0; py < 11; ++py) {
                unsigned int* row = f.pixels() + static_cast<long>(y + ly + py) * f.width();
                for (int px = dx + 18; px < dx + 18 + 34 * kGlyph && px < f.width(); ++px)
                    if (row[px] == kLink)
                        row[px] = kLinkHover;
            }
        }
    }
    const int sbX = x0 + w - 10;
    fillRect(f, sbX, y, 10, viewH, rgb(0xF0, 0xF2, 0xF5));
    const int thumbH = std::max(20, viewH * viewH / std::max(1, docH));
    const int thumbY = y + (viewH - thumbH) * top / std::max(1, maxScroll);
    button(f, sbX + 2, thumbY, 6, thumbH, rgb(0xB5, 0xBE, 0xC9), rgb(0xA0, 0xAA, 0xB6),
           rgb(0xF0, 0xF2, 0xF5));
}

void DemoScene::drawPhotos(VideoFrame& f, const Rect& r, int index, bool pressed, bool active)
{
    drawWindowFrame(f, r, "Photos", active);
    const int x0 = r.x + 1, w = r.w - 2;
    int y = r.y + kTitleBar;
    const unsigned int ui = rgb(0x2B, 0x2D, 0x31);
    fillRect(f, x0, y, w, 32, ui);
    const unsigned int btn = rgb(0x3C, 0x40, 0x46);
    button(f, x0 + 8, y + 6, 28, 20, btn, rgb(0x55, 0x5A, 0x62), ui);
    text(f, x0 + 18, y + 12, QStringLiteral("<"), kWhite);
    button(f, x0 + 40, y + 6, 28, 20, pressed ? rgb(0x4F, 0x8F, 0xD9) : btn,
           rgb(0x55, 0x5A, 0x62), ui);
    text(f, x0 + 50, y + 12, QStringLiteral(">"), kWhite);
    text(f, x0 + 80, y + 12, QStringLiteral("IMG_%1.jpg").arg(2041 + index, 4, 10, QLatin1Char('0')),
         rgb(0xD0, 0xD4, 0xDA));
    const QString count = QStringLiteral("%1 of 128").arg(index % 128 + 1);
    text(f, x0 + w - 10 - count.size() * kGlyph, y + 12, count, rgb(0x9A, 0xA0, 0xA8));
    y += 32;
    const int areaH = r.y + r.h - 1 - y;
    fillRect(f, x0, y, w, areaH, rgb(0x1E, 0x1F, 0x22));
    m_photoW = std::max(16, w - 24);
    m_photoH = std::max(16, areaH - 24);
    makePhoto(index);
    blit(f, m_photo, x0 + 12, y + 12);
}

uint64_t DemoScene::signature(uint64_t t)
{
    uint64_t cycle;
    double s;
    storyTime(t, cycle, s);
    const Window active = activeWindow(s);
    const Rect photos = windowRect(PHOTOS, cycle, s);
    const int typed = typedChars(t);
    const bool recent = typed > 0 && t - m_typeTimes[typed - 1] < 500;
    const bool caret = active == EDITOR && (recent || (t / 530) % 2 == 0);
    bool pressed = false;
    for (double c : kClicks)
        pressed |= s >= c && s < c + 0.15;
    uint64_t h = mix(static_cast<uint64_t>(typed));
    h = mix(h ^ (caret ? 1 : 0) ^ (uint64_t(active) << 4));
    h = mix(h ^ static_cast<uint64_t>(viewerScroll(cycle, s)));
    h = mix(h ^ static_cast<uint64_t>(photoIndex(cycle, s)));
    h = mix(h ^ (uint64_t(uint32_t(photos.x)) << 32 | uint32_t(photos.y)));
    h = mix(h ^ (t / 1000) ^ (uint64_t(hoverLink(s)) << 40) ^ (uint64_t(pressed) << 41));
    return h;
}

void DemoScene::render(uint64_t t, VideoFrame& frame)
{
    frame.resize(m_width, m_height);
    uint64_t cycle;
    double s;
    storyTime(t, cycle, s);
    const Window active = activeWindow(s);
    drawWallpaper(frame);

    bool pressed = false;
    for (double c : kClicks)
        pressed |= s >= c && s < c + 0.15;
    // Inactive windows first, the active one on top.
    const Window order[] = {VIEWER, PHOTOS, EDITOR};
    for (int pass = 0; pass < 2; ++pass) {
        for (Window w : order) {
            if ((w == active) != (pass == 1))
                continue;
            const Rect r = windowRect(w, cycle, s);
            if (w == EDITOR) {
                drawEditor(frame, r, t, w == active);
            } else if (w == VIEWER) {
                drawViewer(frame, r, viewerScroll(cycle, s), hoverLink(s) ? hoverLinkY(cycle) : -1,
                           w == active);
            } else {
                drawPhotos(frame, r, photoIndex(cycle, s), pressed, w == active);
            }
        }
    }
    drawTaskbar(frame, t, active);
}

DemoScene::Pointer DemoScene::pointer(uint64_t t) const
{
    uint64_t cycle;
    double s;
    storyTime(t, cycle, s);
    const Rect ed = windowRect(EDITOR, cycle, s);
    const Rect vw = windowRect(VIEWER, cycle, s);
    const int sidebar = vw.w * 22 / 100;
    const int viewTop = vw.y + kTitleBar + 34;
    const double edX = ed.x + ed.w * 0.62, edY = ed.y + ed.h * 0.55;
    const double vwX = vw.x + sidebar + (vw.w - sidebar) * 0.6, vwY = vw.y + vw.h * 0.55;
    // The link, where the scroll has brought it.
    const int scrollAtHover = viewerScroll(cycle, 22.0);
    const double linkX = vw.x + 1 + sidebar + 1 + 18 + 12 * kGlyph;
    const double linkY = std::clamp(double(viewTop + hoverLinkY(cycle) - scrollAtHover + 5),
                                    double(viewTop + 10), double(vw.y + vw.h - 20));
    // The photo window's next button and title bar, before and after the drag.
    const Rect ph0 = windowRect(PHOTOS, cycle, 30.0);
    const Rect ph = windowRect(PHOTOS, cycle, s);
    const double nextX = ph0.x + 1 + 54, nextY = ph0.y + kTitleBar + 16;
    const double grabX = ph0.x + ph0.w * 0.45, grabY = ph0.y + 12;

    auto path = [&](double x0, double y0, double x1, double y1, double s0, double s1) {
        const double p = ease((s - s0) / (s1 - s0));
        // A gentle arc rather than a ruler-straight line.
        const double bow = std::sin(p * 3.14159265358979) * 0.08;
        return Pointer{static_cast<int>(std::lround(x0 + (x1 - x0) * p - (y1 - y0) * bow)),
                       static_cast<int>(std::lround(y0 + (y1 - y0) * p + (x1 - x0) * bow)), ARROW};
    };
    auto at = [](double x, double y, Shape shape) {
        return Pointer{static_cast<int>(std::lround(x)), static_cast<int>(std::lround(y)), shape};
    };

    if (s < 14.0)
        return at(edX, edY, BEAM);
    if (s < 15.0)
        return path(edX, edY, vwX, vwY, 14.0, 15.0);
    if (s < 21.0)
        return at(vwX, vwY, ARROW);
    if (s < 22.0)
        return path(vwX, vwY, linkX, linkY, 21.0, 22.0);
    if (s < 24.0)
        return at(linkX, linkY, HAND);
    if (s < 24.5)
        return path(linkX, linkY, vwX, vwY, 24.0, 24.5);
    if (s < 26.0)
        return at(vwX, vwY, ARROW);
    if (s < 27.5)
        return path(vwX, vwY, nextX, nextY, 26.0, 27.5);
    if (s < 34.0)
        return at(nextX, nextY, HAND);
    if (s < 34.8)
        return path(nextX, nextY, grabX, grabY, 34.0, 34.8);
    if (s < kDragStart)
        return at(grabX, grabY, ARROW);
    if (s < kDragEnd + 0.1)
        return at(grabX + ph.x - ph0.x, grabY + ph.y - ph0.y, MOVE);
    const Rect ph1 = windowRect(PHOTOS, cycle, 59.0);
    const double relX = grabX + ph1.x - ph0.x, relY = grabY + ph1.y - ph0.y;
    if (s < 37.0)
        return at(relX, relY, ARROW);
    if (s < 38.0) {
        Pointer p = path(relX, relY, edX, edY, 37.0, 38.0);
        if (s > 37.8)
            p.shape = BEAM;
        return p;
    }
    return at(edX, edY, BEAM);
}
