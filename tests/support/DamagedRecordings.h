// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Recordings damaged on purpose, from RecordingWriter output: a clean sample
// with the offsets of its units, the ways a file gets broken (random bytes
// written over stretches of it, headers with impossible fields, a payload
// that does not inflate, a cut-off tail, a header that says 0), and what a
// repair of each must keep. Shared by the sessiontool and the player tests.
// Needs the recwriter library.

#include <QBuffer>
#include <QByteArray>
#include <QList>
#include <QSet>

#include <functional>
#include <ostream>
#include <random>

#include "LittleEndian.h"
#include "RecordingWriter.h"
#include "VideoFrame.h"

struct SampleRecording
{
    struct Unit
    {
        qint64 offset;
        qint64 length; // header and stored payload
        quint64 time;
        unsigned type;
    };

    QByteArray bytes;
    QList<Unit> units;

    // The first unit at or after `time` whose type (flag removed) is `kind`,
    // any kind when 0.
    int firstAt(quint64 time, unsigned kind = 0) const
    {
        for (int i = 0; i < units.size(); ++i)
            if (units[i].time >= time && (kind == 0 || (units[i].type & 0x0F) == kind))
                return i;
        return -1;
    }
    qint64 offsetOf(int k) const { return k < units.size() ? units[k].offset : bytes.size(); }
};

// The frame of a 96 x 64 screen at step f: a few colours per 16 x 16 box,
// changing every step, which the grid codec reproduces exactly.
inline VideoFrame sampleFrame(int f)
{
    VideoFrame frame;
    frame.resize(96, 64);
    for (int i = 0; i < 96 * 64; ++i) {
        const int x = i % 96, y = i / 96;
        const bool changes = (x / 16 + y / 16 + f) % 3 == 0;
        const unsigned c = unsigned((x / 16 * 5 + y / 16 * 11 + (changes ? f * 13 : 0)) * 0x0A0B0C);
        frame.pixels()[i] = 0xFF000000u | (c & 0xFFFFFFu);
    }
    return frame;
}

// `seconds` of a small session: a screen update and a mouse position every
// 250 ms, the whole screen written again every 4 s (so the picture recovers
// from damage), both audio streams every 500 ms. Compressed when asked.
inline SampleRecording writeSample(bool compressed, int seconds = 20)
{
    SampleRecording s;
    QBuffer buffer(&s.bytes);
    buffer.open(QIODevice::ReadWrite);
    RecordingWriter w;
    w.open(&buffer, "DAMAGED01");
    w.setCompression(compressed);
    std::vector<int16_t> pcm(480 * 2);
    for (size_t i = 0; i < pcm.size(); ++i)
        pcm[i] = static_cast<int16_t>((i * 977) % 20000 - 10000);
    for (int f = 0; f * 250 <= seconds * 1000; ++f) {
        const quint64 t = quint64(f) * 250;
        if (f % 16 == 0)
            w.resetScreen();
        VideoFrame frame = sampleFrame(f);
        w.writeScreenFrame(t, frame);
        w.writeMousePos(t, f % 96, f % 64, 1);
        if (f % 2 == 0) {
            w.writeAudio(t, RecordingWriter::CAP, pcm.data(), 480, 2);
            w.writeAudio(t, RecordingWriter::SPK, pcm.data(), 960, 1);
        }
    }
    w.finish();
    // The units, from the clean bytes.
    for (qint64 pos = 32; pos + 24 <= s.bytes.size();) {
        const auto* p = reinterpret_cast<const unsigned char*>(s.bytes.constData()) + pos;
        quint64 time = 0, size = 0;
        for (int i = 7; i >= 0; --i) {
            time = (time << 8) | p[8 + i];
            size = (size << 8) | p[16 + i];
        }
        s.units.append({pos, qint64(24 + size), time, p[0]});
        pos += 24 + qint64(size);
    }
    return s;
}

inline void overwrite(QByteArray& bytes, qint64 from, qint64 n, unsigned seed)
{
    std::mt19937 rng(seed);
    for (qint64 i = from; i < from + n && i < bytes.size(); ++i)
        bytes[i] = static_cast<char>(rng() & 0xFF);
}

inline void patch(QByteArray& bytes, qint64 at, quint64 value, int width)
{
    LittleEndian::write(reinterpret_cast<unsigned char*>(bytes.data()) + at, value, width);
}

// One way of breaking the sample, and what it leaves: the units that are lost
// (runs of neighbouring lost units are one damaged stretch), whether a
// payload does not inflate, whether the tail is cut off.
struct Damaged
{
    QByteArray bytes;
    QList<QPair<int, int>> stretches; // [first, last) unit indexes, in order
    bool notInflating = false;        // the stretches are units that do not inflate
    bool truncated = false;           // the last unit is cut off (lost, no stretch)
    bool toEnd = false;               // the last stretch runs to the end of the file
    QSet<int> lost() const
    {
        QSet<int> out;
        for (const auto& [first, last] : stretches)
            for (int k = first; k < last; ++k)
                out.insert(k);
        return out;
    }
};

struct DamageCase
{
    const char* name;
    bool compressed;
    std::function<Damaged(const SampleRecording&)> make;
};

inline void PrintTo(const DamageCase& c, std::ostream* os)
{
    *os << c.name;
}

inline QList<DamageCase> damageCases()
{
    using S = const SampleRecording&;
    // The header of unit k broken in one field.
    auto header = [](S s, int k, int at, quint64 value, int width) {
        Damaged d{s.bytes, {{k, k + 1}}};
        patch(d.bytes, s.units[k].offset + at, value, width);
        return d;
    };
    return {
        {"randomStretches", false,
         [](S s) {
             // Three seeded stretches of random bytes: one from a unit header on,
             // two from inside a payload (that unit keeps its header and plays
             // its broken payload), each to the start of a later unit.
             Damaged d{s.bytes, {}};
             std::mt19937 rng(13);
             int k = s.firstAt(2000);
             for (int i = 0; i < 3; ++i) {
                 const SampleRecording::Unit& u = s.units[k];
                 const bool inPayload = i > 0 && u.length > 24;
                 const qint64 from = inPayload ? u.offset + 24 + qint64(rng() % (u.length - 24)) : u.offset;
                 const int first = inPayload ? k + 1 : k;
                 const int last = first + 1 + int(rng() % 4);
                 overwrite(d.bytes, from, s.units[last].offset - from, rng());
                 d.stretches.append({first, last});
                 k = last + 10 + int(rng() % 20);
             }
             return d;
         }},
        {"hugeTime", false, [=](S s) { return header(s, s.firstAt(5000, 2), 8, 9009206374834009073ULL, 8); }},
        {"sizePastEnd", false, [=](S s) { return header(s, s.firstAt(5000, 4), 16, quint64(s.bytes.size()) * 2, 8); }},
        {"kindOutOfRange", false, [=](S s) { return header(s, s.firstAt(5000, 1), 0, 0x1F, 1); }},
        {"badCompressedPayload", true,
         [](S s) {
             const int k = s.firstAt(5000, 2);
             Damaged d{s.bytes, {{k, k + 1}}, true};
             const SampleRecording::Unit& u = s.units[k];
             overwrite(d.bytes, u.offset + 24 + (u.length - 24) / 2, 4, 5);
             return d;
         }},
        {"truncatedTail", false,
         [](S s) {
             Damaged d{s.bytes, {}};
             const SampleRecording::Unit& u = s.units.last();
             d.bytes.truncate(int(u.offset + 24 + (u.length - 24) / 2));
             d.truncated = true;
             return d;
         }},
        {"backToBack", false,
         [](S s) {
             const int k = s.firstAt(5000);
             Damaged d{s.bytes, {{k, k + 2}}};
             patch(d.bytes, s.units[k].offset, 0, 1);
             patch(d.bytes, s.units[k + 1].offset, 0xEE, 1);
             return d;
         }},
        {"firstScreenUnit", false,
         [](S s) {
             Damaged d{s.bytes, {{0, 1}}};
             overwrite(d.bytes, s.units[0].offset, 24 + 3, 21);
             return d;
         }},
        {"garbageTail", false,
         [](S s) {
             const int k = s.firstAt(15000);
             Damaged d{s.bytes, {{k, int(s.units.size())}}};
             overwrite(d.bytes, s.units[k].offset, d.bytes.size() - s.units[k].offset, 8);
             d.toEnd = true;
             return d;
         }},
        {"durationZero", false,
         [](S s) {
             Damaged d{s.bytes, {}};
             patch(d.bytes, 8, 0, 8);
             return d;
         }},
    };
}

// What a repair of `d` writes: the file header (its duration set to the last
// unit's time when it was 0 or lower) and every unit not lost, byte for byte.
inline QByteArray repaired(const SampleRecording& s, const Damaged& d)
{
    QByteArray out = d.bytes.left(32);
    const QSet<int> lost = d.lost();
    quint64 last = 0;
    for (int k = 0; k < s.units.size(); ++k) {
        if (lost.contains(k) || (d.truncated && k == s.units.size() - 1))
            continue;
        out += d.bytes.mid(s.units[k].offset, s.units[k].length);
        last = std::max(last, s.units[k].time);
    }
    quint64 duration = 0;
    for (int i = 7; i >= 0; --i)
        duration = (duration << 8) | static_cast<unsigned char>(out[8 + i]);
    if (duration < last)
        patch(out, 8, last, 8);
    return out;
}
