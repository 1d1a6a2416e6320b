// SPDX-License-Identifier: GPL-3.0-or-later
#include "MediaWriter.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <QFile>

#include <algorithm>
#include <cstring>

namespace {

QString avError(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {0};
    av_strerror(code, text, sizeof text);
    return QString::fromLocal8Bit(text);
}

// Black in limited-range YUV.
constexpr uint8_t kBlackY = 16;
constexpr uint8_t kBlackChroma = 128;

} // namespace

MediaWriter::MediaWriter() = default;

MediaWriter::~MediaWriter()
{
    close();
}

void MediaWriter::fail(const QString& what, int code) const
{
    throw Error(code == 0 ? what : what + QStringLiteral(": ") + avError(code));
}

void MediaWriter::open(const QString& path, ExportSettings::Container container, QSize size,
                       int fps, int crf, bool sound)
{
    // The libraries' own chatter (x264's statistics) is not ours to print;
    // their errors reach the caller as Error.
    av_log_set_level(AV_LOG_QUIET);
    m_path = path;
    m_size = QSize(size.width() & ~1, size.height() & ~1);
    if (m_size.width() < 2 || m_size.height() < 2)
        fail(QStringLiteral("the video size %1x%2 is too small").arg(size.width()).arg(size.height()), 0);

    const char* formatName = container == ExportSettings::Mp4 ? "mp4" : "webm";
    const QByteArray file = QFile::encodeName(path);
    int r = avformat_alloc_output_context2(&m_format, nullptr, formatName, file.constData());
    if (r < 0 || !m_format)
        fail(QStringLiteral("cannot make the %1 container").arg(QLatin1String(formatName)), r);

    m_packet = av_packet_alloc();
    if (!m_packet)
        fail(QStringLiteral("out of memory"), 0);
    openVideo(container, fps, crf);
    if (sound)
        openAudio(container);

    r = avio_open(&m_format->pb, file.constData(), AVIO_FLAG_WRITE);
    if (r < 0)
        fail(QStringLiteral("cannot write the file"), r);
    AVDictionary* options = nullptr;
    // A file that players can start before it has arrived in full.
    if (container == ExportSettings::Mp4)
        av_dict_set(&options, "movflags", "+faststart", 0);
    r = avformat_write_header(m_format, &options);
    av_dict_free(&options);
    if (r < 0)
        fail(QStringLiteral("cannot write the file"), r);
    m_headerWritten = true;
}

void MediaWriter::openVideo(ExportSettings::Container container, int fps, int crf)
{
    const bool h264 = container == ExportSettings::Mp4;
    const char* name = h264 ? "libx264" : "libvpx-vp9";
    const AVCodec* codec = avcodec_find_encoder_by_name(name);
    if (!codec)
        fail(QStringLiteral("the FFmpeg libraries have no %1 encoder").arg(QLatin1String(name)), 0);
    m_video = avcodec_alloc_context3(codec);
    if (!m_video)
        fail(QStringLiteral("out of memory"), 0);
    m_video->width = m_size.width();
    m_video->height = m_size.height();
    m_video->pix_fmt = AV_PIX_FMT_YUV420P;
    // Pictures are stamped with their media time in ms: a variable rate.
    m_video->time_base = AVRational{1, 1000};
    m_video->framerate = AVRational{fps, 1};
    m_pictureMs = (1000 + fps - 1) / std::max(1, fps);
    // A key frame at least every 10 s of pictures, so players can seek.
    m_video->gop_size = std::max(1, fps * 10);
    m_video->color_range = AVCOL_RANGE_MPEG;
    m_video->colorspace = AVCOL_SPC_SMPTE170M;
    m_video->color_primaries = AVCOL_PRI_SMPTE170M;
    m_video->color_trc = AVCOL_TRC_SMPTE170M;
    if (m_format->oformat->flags & AVFMT_GLOBALHEADER)
        m_video->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (h264) {
        av_opt_set(m_video->priv_data, "preset", x264Preset(), 0);
        av_opt_set_double(m_video->priv_data, "crf", crf, 0);
    } else {
        m_video->bit_rate = 0;
        av_opt_set_int(m_video->priv_data, "crf", crf, 0);
        av_opt_set(m_video->priv_data, "deadline", "realtime", 0);
        av_opt_set_int(m_video->priv_data, "cpu-used", 8, 0);
        av_opt_set_int(m_video->priv_data, "row-mt", 1, 0);
    }
    int r = avcodec_open2(m_video, codec, nullptr);
    if (r < 0)
        fail(QStringLiteral("cannot start the %1 encoder").arg(QLatin1String(name)), r);

    m_videoStream = avformat_new_stream(m_format, nullptr);
    if (!m_videoStream)
        fail(QStringLiteral("out of memory"), 0);
    m_videoStream->time_base = m_video->time_base;
    r = avcodec_parameters_from_context(m_videoStream->codecpar, m_video);
    if (r < 0)
        fail(QStringLiteral("cannot describe the video stream"), r);

    m_picture = av_frame_alloc();
    if (!m_picture)
        fail(QStringLiteral("out of memory"), 0);
    m_picture->format = m_video->pix_fmt;
    m_picture->width = m_video->width;
    m_picture->height = m_video->height;
    r = av_frame_get_buffer(m_picture, 0);
    if (r < 0)
        fail(QStringLiteral("out of memory"), r);
}

void MediaWriter::openAudio(ExportSettings::Container container)
{
    const bool aac = container == ExportSettings::Mp4;
    const char* name = aac ? "aac" : "libopus";
    const AVCodec* codec = avcodec_find_encoder_by_name(name);
    if (!codec)
        fail(QStringLiteral("the FFmpeg libraries have no %1 encoder").arg(QLatin1String(name)), 0);
    m_audio = avcodec_alloc_context3(codec);
    if (!m_audio)
        fail(QStringLiteral("out of memory"), 0);
    m_audio->sample_rate = kSampleRate;
    av_channel_layout_default(&m_audio->ch_layout, 2);
    m_audio->sample_fmt = codec->sample_fmts ? codec->sample_fmts[0] : AV_SAMPLE_FMT_FLTP;
    m_audio->bit_rate = aac ? 160000 : 128000;
    m_audio->time_base = AVRational{1, kSampleRate};
    if (m_format->oformat->flags & AVFMT_GLOBALHEADER)
        m_audio->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    int r = avcodec_open2(m_audio, codec, nullptr);
    if (r < 0)
        fail(QStringLiteral("cannot start the %1 encoder").arg(QLatin1String(name)), r);

    m_audioStream = avformat_new_stream(m_format, nullptr);
    if (!m_audioStream)
        fail(QStringLiteral("out of memory"), 0);
    m_audioStream->time_base = m_audio->time_base;
    r = avcodec_parameters_from_context(m_audioStream->codecpar, m_audio);
    if (r < 0)
        fail(QStringLiteral("cannot describe the audio stream"), r);

    // The recording's samples are 48 kHz signed 16-bit; the encoder takes its
    // own sample format (planar float for AAC) at its own rate.
    AVChannelLayout stereo;
    av_channel_layout_default(&stereo, 2);
    r = swr_alloc_set_opts2(&m_resampler, &m_audio->ch_layout, m_audio->sample_fmt,
                            m_audio->sample_rate, &stereo, AV_SAMPLE_FMT_S16, kSampleRate, 0,
                            nullptr);
    if (r < 0 || (r = swr_init(m_resampler)) < 0)
        fail(QStringLiteral("cannot convert the sound"), r);
    m_fifo = av_audio_fifo_alloc(m_audio->sample_fmt, 2, m_audio->frame_size > 0 ? m_audio->frame_size * 4 : 4096);
    m_sound = av_frame_alloc();
    if (!m_fifo || !m_sound)
        fail(QStringLiteral("out of memory"), 0);
}

void MediaWriter::writePicture(const uint32_t* pixels, int width, int height, int stride,
                               int64_t ms)
{
    if (!m_video || !pixels || width <= 0 || height <= 0 || stride < width)
        return;
    int r = av_frame_make_writable(m_picture);
    if (r < 0)
        fail(QStringLiteral("out of memory"), r);

    // Where the picture goes: all of the video, or the largest rectangle of
    // its aspect that fits, centred on even lines and columns.
    const int vw = m_size.width();
    const int vh = m_size.height();
    int w = vw, h = vh, x = 0, y = 0;
    const bool sameAspect = static_cast<int64_t>(width) * vh == static_cast<int64_t>(height) * vw;
    if (!sameAspect) {
        if (static_cast<int64_t>(width) * vh > static_cast<int64_t>(height) * vw)
            h = std::max<int64_t>(2, (static_cast<int64_t>(vw) * height / width) & ~1);
        else
            w = std::max<int64_t>(2, (static_cast<int64_t>(vh) * width / height) & ~1);
        x = ((vw - w) / 2) & ~1;
        y = ((vh - h) / 2) & ~1;
    }
    // Tiny differences (a screen of an odd size) are stretched, not barred.
    if (std::abs(vw - w) <= 2 && std::abs(vh - h) <= 2) {
        w = vw;
        h = vh;
        x = y = 0;
    }
    if (w != vw || h != vh) {
        std::memset(m_picture->data[0], kBlackY, static_cast<size_t>(m_picture->linesize[0]) * vh);
        std::memset(m_picture->data[1], kBlackChroma, static_cast<size_t>(m_picture->linesize[1]) * (vh / 2));
        std::memset(m_picture->data[2], kBlackChroma, static_cast<size_t>(m_picture->linesize[2]) * (vh / 2));
    }
    m_scaler = sws_getCachedContext(m_scaler, width, height, AV_PIX_FMT_BGR0, w, h,
                                    AV_PIX_FMT_YUV420P, SWS_BILINEAR, nullptr, nullptr, nullptr);
    if (!m_scaler)
        fail(QStringLiteral("cannot scale a %1x%2 picture").arg(width).arg(height), 0);
    m_scaledWidth = width;
    m_scaledHeight = height;
    const uint8_t* src[4] = {reinterpret_cast<const uint8_t*>(pixels), nullptr, nullptr, nullptr};
    const int srcStride[4] = {stride * 4, 0, 0, 0};
    uint8_t* dst[4] = {m_picture->data[0] + y * m_picture->linesize[0] + x,
                       m_picture->data[1] + (y / 2) * m_picture->linesize[1] + x / 2,
                       m_picture->data[2] + (y / 2) * m_picture->linesize[2] + x / 2, nullptr};
    sws_scale(m_scaler, src, srcStride, 0, height, dst, m_picture->linesize);

    m_picture->pts = ms;
    encode(m_video, m_videoStream, m_picture);
    ++m_pictures;
}

void MediaWriter::writeSound(const int16_t* samples, int frames)
{
    if (!m_audio || frames <= 0)
        return;
    const int room = swr_get_out_samples(m_resampler, frames);
    if (room < 0)
        fail(QStringLiteral("cannot convert the sound"), room);
    int r = av_audio_fifo_realloc(m_fifo, av_audio_fifo_size(m_fifo) + room);
    if (r < 0)
        fail(QStringLiteral("out of memory"), r);
    // Convert into a scratch frame, then queue for the encoder's frame size.
    m_sound->nb_samples = room;
    m_sound->format = m_audio->sample_fmt;
    av_channel_layout_copy(&m_sound->ch_layout, &m_audio->ch_layout);
    m_sound->sample_rate = m_audio->sample_rate;
    r = av_frame_get_buffer(m_sound, 0);
    if (r < 0)
        fail(QStringLiteral("out of memory"), r);
    const uint8_t* in[1] = {reinterpret_cast<const uint8_t*>(samples)};
    const int converted = swr_convert(m_resampler, m_sound->data, room, in, frames);
    if (converted < 0)
        fail(QStringLiteral("cannot convert the sound"), converted);
    av_audio_fifo_write(m_fifo, reinterpret_cast<void**>(m_sound->data), converted);
    av_frame_unref(m_sound);
    m_soundIn += frames;
    encodeFifo(false);
}

void MediaWriter::encodeFifo(bool all)
{
    const int frameSize = m_audio->frame_size > 0 ? m_audio->frame_size : 1024;
    const bool smallLast = m_audio->codec->capabilities & AV_CODEC_CAP_SMALL_LAST_FRAME;
    while (av_audio_fifo_size(m_fifo) >= frameSize || (all && av_audio_fifo_size(m_fifo) > 0)) {
        const int available = std::min(frameSize, av_audio_fifo_size(m_fifo));
        m_sound->nb_samples = (available < frameSize && !smallLast) ? frameSize : available;
        m_sound->format = m_audio->sample_fmt;
        av_channel_layout_copy(&m_sound->ch_layout, &m_audio->ch_layout);
        m_sound->sample_rate = m_audio->sample_rate;
        int r = av_frame_get_buffer(m_sound, 0);
        if (r < 0)
            fail(QStringLiteral("out of memory"), r);
        if (m_sound->nb_samples > available)
            av_samples_set_silence(m_sound->data, available, m_sound->nb_samples - available,
                                   2, m_audio->sample_fmt);
        av_audio_fifo_read(m_fifo, reinterpret_cast<void**>(m_sound->data), available);
        m_sound->pts = m_soundOut;
        m_soundOut += m_sound->nb_samples;
        encode(m_audio, m_audioStream, m_sound);
        av_frame_unref(m_sound);
    }
}

void MediaWriter::encode(AVCodecContext* codec, AVStream* stream, AVFrame* frame)
{
    int r = avcodec_send_frame(codec, frame);
    if (r < 0)
        fail(QStringLiteral("the encoder refused a frame"), r);
    for (;;) {
        r = avcodec_receive_packet(codec, m_packet);
        if (r == AVERROR(EAGAIN) || r == AVERROR_EOF)
            return;
        if (r < 0)
            fail(QStringLiteral("the encoder failed"), r);
        if (codec == m_video && m_packet->duration <= 0)
            m_packet->duration = m_pictureMs;
        av_packet_rescale_ts(m_packet, codec->time_base, stream->time_base);
        m_packet->stream_index = stream->index;
        r = av_interleaved_write_frame(m_format, m_packet);
        if (r < 0)
            fail(QStringLiteral("cannot write the file"), r);
        if (m_format->pb && m_format->pb->error < 0)
            fail(QStringLiteral("cannot write the file"), m_format->pb->error);
    }
}

void MediaWriter::finish()
{
    if (!m_headerWritten || m_finished)
        return;
    if (m_audio) {
        encodeFifo(true);
        encode(m_audio, m_audioStream, nullptr);
    }
    encode(m_video, m_videoStream, nullptr);
    int r = av_write_trailer(m_format);
    if (r < 0)
        fail(QStringLiteral("cannot write the file"), r);
    if (m_format->pb->error < 0)
        fail(QStringLiteral("cannot write the file"), m_format->pb->error);
    r = avio_closep(&m_format->pb);
    if (r < 0)
        fail(QStringLiteral("cannot write the file"), r);
    m_finished = true;
}

void MediaWriter::close()
{
    if (m_format && m_format->pb)
        avio_closep(&m_format->pb);
    avcodec_free_context(&m_video);
    avcodec_free_context(&m_audio);
    av_frame_free(&m_picture);
    av_frame_free(&m_sound);
    av_packet_free(&m_packet);
    sws_freeContext(m_scaler);
    m_scaler = nullptr;
    swr_free(&m_resampler);
    if (m_fifo) {
        av_audio_fifo_free(m_fifo);
        m_fifo = nullptr;
    }
    if (m_format) {
        avformat_free_context(m_format);
        m_format = nullptr;
    }
}
