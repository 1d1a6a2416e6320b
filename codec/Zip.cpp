// SPDX-License-Identifier: GPL-3.0-or-later
#include "Zip.h"

#include "File.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <libdeflate.h>
#include <memory>
#include <vector>
#include <zlib.h>

#if SP_HAVE_ISAL
#include <isa-l/igzip_lib.h>
#endif

static std::atomic<int> s_maxUnzippedSize{Zip::DEFAULT_MAX_UNZIPPED_SIZE};

void Zip::setMaxUnzippedSize(int bytes)
{
    s_maxUnzippedSize = bytes > 0 ? bytes : DEFAULT_MAX_UNZIPPED_SIZE;
}

int Zip::maxUnzippedSize()
{
    return s_maxUnzippedSize;
}

bool Zip::zipBuffer(const unsigned char* data, int length, Array<unsigned char, int>& out,
                    int level)
{
    if (!data || length < 1)
        return false;
    const uLong bound = compressBound(static_cast<uLong>(length)) + 100;
    if (bound > static_cast<uLong>(INT32_MAX)) {
        out.setCount(0);
        return false;
    }
    out.setCount(static_cast<int>(bound));
    uLongf produced = bound;
    const int rc = compress2(out.data(), &produced, data, static_cast<uLong>(length), level);
    if (rc != Z_OK) {
        out.setCount(0);
        return false;
    }
    out.setCount(static_cast<int>(produced));
    return true;
}

bool Zip::zipBufferFast(const unsigned char* data, int length, Array<unsigned char, int>& out,
                        int level)
{
    if (!data || length < 1)
        return false;
    level = std::clamp(level, 1, 12);
    struct Free
    {
        void operator()(libdeflate_compressor* c) const { libdeflate_free_compressor(c); }
    };
    thread_local std::unique_ptr<libdeflate_compressor, Free> compressors[13];
    std::unique_ptr<libdeflate_compressor, Free>& c = compressors[level];
    if (!c) {
        c.reset(libdeflate_alloc_compressor(level));
        if (!c) {
            out.setCount(0);
            return false;
        }
    }
    const size_t bound = libdeflate_zlib_compress_bound(c.get(), static_cast<size_t>(length));
    if (bound > static_cast<size_t>(INT32_MAX)) {
        out.setCount(0);
        return false;
    }
    out.setCount(static_cast<int>(bound));
    const size_t produced =
        libdeflate_zlib_compress(c.get(), data, static_cast<size_t>(length), out.data(), bound);
    out.setCount(static_cast<int>(produced)); // 0: failed
    return produced > 0;
}

bool Zip::fastestIsIsal()
{
#if SP_HAVE_ISAL
    return true;
#else
    return false;
#endif
}

bool Zip::zipBufferFastest(const unsigned char* data, int length, Array<unsigned char, int>& out)
{
#if SP_HAVE_ISAL
    if (!data || length < 1)
        return false;
    // Room for data that does not compress: stored blocks add 5 bytes per
    // 64 KiB, the zlib wrapper and block headers a few hundred at most. An
    // overflow all the same falls back to libdeflate, which sizes its own.
    const long long bound = length + length / 64 + 4096LL;
    if (bound > INT32_MAX)
        return zipBufferFast(data, length, out, 1);
    thread_local std::vector<unsigned char> levelBuffer(ISAL_DEF_LVL2_DEFAULT);
    out.setCount(static_cast<int>(bound));
    isal_zstream stream;
    isal_deflate_stateless_init(&stream);
    stream.level = 2;
    stream.level_buf = levelBuffer.data();
    stream.level_buf_size = static_cast<uint32_t>(levelBuffer.size());
    stream.gzip_flag = IGZIP_ZLIB;
    stream.end_of_stream = 1;
    stream.flush = NO_FLUSH;
    stream.next_in = const_cast<unsigned char*>(data);
    stream.avail_in = static_cast<uint32_t>(length);
    stream.next_out = out.data();
    stream.avail_out = static_cast<uint32_t>(bound);
    if (isal_deflate_stateless(&stream) != COMP_OK || stream.avail_in != 0)
        return zipBufferFast(data, length, out, 1);
    out.setCount(static_cast<int>(stream.total_out));
    return true;
#else
    return zipBufferFast(data, length, out, 1);
#endif
}

bool Zip::zipBuffer(Array<unsigned char, int>& in, Array<unsigned char, int>& out, int level)
{
    return zipBuffer(in.data(), in.count(), out, level);
}

bool Zip::unzipBuffer(const unsigned char* data, int length, Array<unsigned char, int>& out)
{
    if (!data || length < 1) {
        out.setCount(0);
        return false;
    }
    const int64_t cap = maxUnzippedSize();
    int64_t room = std::max<int64_t>(int64_t(length) * 4, out.capacity());
    room = std::min(room, cap);
    for (;;) {
        out.setCount(static_cast<int>(room));
        uLongf produced = static_cast<uLongf>(room);
        const int rc = uncompress(out.data(), &produced, data, static_cast<uLong>(length));
        if (rc == Z_OK) {
            out.setCount(static_cast<int>(produced));
            return true;
        }
        if (rc != Z_BUF_ERROR || room >= cap) {
            out.setCount(0);
            return false;
        }
        room = std::min(room * 2, cap);
    }
}

bool Zip::unzipBuffer(Array<unsigned char, int>& in, Array<unsigned char, int>& out)
{
    return unzipBuffer(in.data(), in.count(), out);
}

bool Zip::zipBuffer2File(Array<unsigned char, int>& in, const char* path, int level)
{
    if (!path || !*path)
        return false;
    Array<unsigned char, int> packed;
    if (!zipBuffer(in, packed, level))
        return false;
    // A file that could not be written is a failure too, not only a failed
    // compression.
    return File::save(path, packed.data(), packed.count());
}

bool Zip::unzipFile2Buffer(const char* path, Array<unsigned char, int>& out)
{
    Array<unsigned char, int> packed;
    if (!path || !*path || !File::load(path, packed)) {
        out.setCount(0);
        return false;
    }
    return unzipBuffer(packed, out);
}
