// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

#include "VideoFrame.h"

// The desktop that `sessiontool synth` records: a wallpaper with icons and a
// taskbar with a running clock, and three windows - an editor in which notes
// are being typed (it scrolls as they grow), a document viewer that is
// scrolled with the wheel and has a link the pointer hovers, and a photo
// viewer whose pictures (drawn landscapes, so they become JPEG boxes) change
// when its "next" button is clicked and which is dragged across the screen
// by its title bar. The pointer moves smoothly between these places and
// changes shape over text, links and while dragging. Once a cycle the
// presenter pauses the recording for three seconds.
//
// The story takes 60 s; a shorter recording plays it faster, a longer one
// repeats it (the notes go on, the pictures change, the window is dragged
// back and forth). Everything is a function of the time and the seed, so the
// same arguments always give the same recording.
class DemoScene
{
public:
    enum Shape { ARROW, BEAM, HAND, MOVE, SHAPES };

    struct Pointer
    {
        int x;
        int y;
        Shape shape;
    };

    DemoScene(int width, int height, uint64_t durationMs, uint64_t seed);
    ~DemoScene();

    int width() const { return m_width; }
    int height() const { return m_height; }

    // The pause of the cycle that contains `t`: [start, end) in ms.
    bool isPaused(uint64_t t) const;
    uint64_t pauseStart(uint64_t t) const;

    // A value that changes whenever the picture at `t` differs from the one
    // before; frames need only be drawn when it changes.
    uint64_t signature(uint64_t t);
    // Draws the screen at `t` into `frame` (resized to the screen).
    void render(uint64_t t, VideoFrame& frame);
    Pointer pointer(uint64_t t) const;

private:
    struct Rect
    {
        int x, y, w, h;
        bool contains(int px, int py) const { return px >= x && py >= y && px < x + w && py < y + h; }
    };
    enum Window { EDITOR, VIEWER, PHOTOS, WINDOWS };

    // Where the story is at `t`: the cycle and the time within it, in the
    // story's own seconds (0..60).
    void storyTime(uint64_t t, uint64_t& cycle, double& s) const;
    Window activeWindow(double s) const;
    Rect windowRect(Window w, uint64_t cycle, double s) const;
    int typedChars(uint64_t t) const;
    int viewerScroll(uint64_t cycle, double s) const;
    int photoIndex(uint64_t cycle, double s) const;
    bool hoverLink(double s) const;
    int hoverLinkY(uint64_t cycle) const;

    void buildWallpaper();
    void buildDocument();
    void buildText(uint64_t seed);
    void buildTyping(uint64_t seed);
    void makePhoto(int index);

    void drawWallpaper(VideoFrame& f) const;
    void drawTaskbar(VideoFrame& f, uint64_t t, Window active) const;
    void drawWindowFrame(VideoFrame& f, const Rect& r, const char* title, bool active) const;
    void drawEditor(VideoFrame& f, const Rect& r, uint64_t t, bool active);
    void drawViewer(VideoFrame& f, const Rect& r, int scroll, int hoverLinkY, bool active) const;
    void drawPhotos(VideoFrame& f, const Rect& r, int index, bool pressed, bool active);
    static void shadow(VideoFrame& f, const Rect& r);

    int m_width;
    int m_height;
    uint64_t m_duration;
    uint64_t m_seed;
    uint64_t m_cycleMs;
    int m_taskbar;

    VideoFrame m_wallpaper;
    VideoFrame m_document;
    std::vector<int> m_links;    // document rows of the links
    std::vector<int> m_sections; // and of the section headings
    QString m_text;
    std::vector<int> m_lineStarts;  // wrapped lines of m_text
    int m_columns = 80;
    std::vector<uint64_t> m_typeTimes; // when each character of m_text appears
    VideoFrame m_photo;
    int m_photoIndex = -1;
    int m_photoW = 0;
    int m_photoH = 0;
};
