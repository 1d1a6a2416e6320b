// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QSize>
#include <QString>

#include <cstdint>
#include <stdexcept>

#include "ExportSettings.h"

struct AVAudioFifo;
struct AVCodecContext;
struct AVFormatContext;
struct AVFrame;
struct AVPacket;
struct AVStream;
struct SwrContext;
struct SwsContext;

// The encoders and the container of an export, on the FFmpeg libraries:
// H.264 (libx264) with AAC in MP4, or VP9 (libvpx) with Opus in WebM. It
// takes pictures as 32-bit screen pixels (VideoFrame's layout) stamped with
// their media time in ms, and sound as 48 kHz signed 16-bit stereo, and
// writes them to one file.
//
// Pictures of another size than the video's are fitted into it, aspect kept,
// with black bars (a screen that changed its size). The x264 preset is
// "veryfast"; VP9 runs in libvpx's real-time mode.
//
// Every failure (no encoder, a write the disk refuses) throws
// MediaWriter::Error with a one-line message naming the cause. One thread;
// the object is used once: open, write, finish.
class MediaWriter
{
public:
    struct Error : std::runtime_error
    {
        explicit Error(const QString& message)
            : std::runtime_error(message.toStdString()), text(message)
        {
        }
        QString text;
    };

    static constexpr int kSampleRate = 48000;
    static const char* x264Preset() { return "veryfast"; }

    MediaWriter();
    ~MediaWriter();

    MediaWriter(const MediaWriter&) = delete;
    MediaWriter& operator=(const MediaWriter&) = delete;

    // Creates `path` (the container given by `container`, whatever the
    // path's extension) with a video stream of `size` (even) at most `fps`
    // frames a second, quality `crf`, and an audio stream when `sound`.
    void open(const QString& path, ExportSettings::Container container, QSize size, int fps,
              int crf, bool sound);

    // One picture of width x height pixels (0xAARRGGBB, rows of `stride`
    // pixels) shown from `ms` on; stamps must increase.
    void writePicture(const uint32_t* pixels, int width, int height, int stride, int64_t ms);
    // `frames` stereo sample pairs, following the ones written before.
    void writeSound(const int16_t* samples, int frames);
    // Flushes the encoders, writes the container's index and closes the
    // file.
    void finish();

    QSize videoSize() const { return m_size; }
    int64_t picturesWritten() const { return m_pictures; }
    int64_t soundFramesWritten() const { return m_soundIn; }

private:
    void openVideo(ExportSettings::Container container, int fps, int crf);
    void openAudio(ExportSettings::Container container);
    void encode(AVCodecContext* codec, AVStream* stream, AVFrame* frame);
    void encodeFifo(bool all);
    void close();
    [[noreturn]] void fail(const QString& what, int code) const;

    QString m_path;
    QSize m_size;
    AVFormatContext* m_format = nullptr;
    AVCodecContext* m_video = nullptr;
    AVCodecContext* m_audio = nullptr;
    AVStream* m_videoStream = nullptr;
    AVStream* m_audioStream = nullptr;
    AVFrame* m_picture = nullptr;
    AVFrame* m_sound = nullptr;
    AVPacket* m_packet = nullptr;
    SwsContext* m_scaler = nullptr;
    SwrContext* m_resampler = nullptr;
    AVAudioFifo* m_fifo = nullptr;
    // How long each picture lasts unless a later one ends it sooner: one
    // interval at the most frames a second. The muxers need it for the last
    // picture, which MP4 would otherwise cut from its track.
    int64_t m_pictureMs = 1;
    int m_scaledWidth = 0;     // the picture size m_scaler was made for
    int m_scaledHeight = 0;
    int64_t m_pictures = 0;
    int64_t m_soundIn = 0;     // sample frames given
    int64_t m_soundOut = 0;    // sample frames sent to the encoder
    bool m_headerWritten = false;
    bool m_finished = false;
};
