// SPDX-License-Identifier: LGPL-2.1-or-later
// The one libpng decoder of the modules, used by the PNG module and for PNG entries inside
// icons. It runs libpng's push reader, so it takes bytes in pieces of any size, and gives 8-bit
// RGB or RGBA: palettes and low bit depths expand, tRNS becomes alpha, grey becomes RGB and
// 16-bit samples are scaled with rounding (not truncated). No gamma is applied.
#ifndef TAMBA_LOADERS_CODEC_PNG_READER_H
#define TAMBA_LOADERS_CODEC_PNG_READER_H

#include <glib.h>

#include <cstddef>

#include "common/limits.h"
#include "common/progress-sink.h"
#include "tamba/tamba.h"

namespace tamba::loader {

inline constexpr unsigned char kPngSignature[8] = {0x89, 'P', 'N', 'G', 0x0d, 0x0a, 0x1a, 0x0a};

class PngReader {
public:
    // Failures are warned as "<format>: <context><reason>"; the image must pass the format's
    // limits. Rows go to sink as they are decoded.
    PngReader (const Format &format, const char *context, ProgressSink &sink) noexcept
        : format_ (format), context_ (context), sink_ (sink) {}
    ~PngReader ();
    PngReader (const PngReader &) = delete;
    PngReader &operator= (const PngReader &) = delete;

    bool start () noexcept;
    // Hands bytes to libpng; false (with one warning) once the data is found bad. Bytes after
    // the end of the image are ignored.
    bool feed (const guchar *data, size_t size) noexcept;
    // The finished image (the caller's reference), or NULL with a warning.
    Tamba *finish () noexcept;
    // The end of the PNG data (IEND) has been read.
    bool ended () const noexcept { return ended_; }

private:
    struct Callbacks;

    void fail (const char *reason) noexcept;
    void clear_missing_rows () noexcept;

    const Format &format_;
    const char *context_;
    ProgressSink &sink_;
    void *png_ = nullptr;   // png_structp, kept out of this header
    void *info_ = nullptr;  // png_infop
    Tamba *image_ = nullptr;
    int passes_ = 1;
    int rows_written_ = 0;  // of a non-interlaced image, which comes top to bottom
    bool rows_complete_ = false;  // the last row of the last pass has been delivered
    bool ended_ = false;
    bool failed_ = false;
    bool quiet_ = false;    // the failure was already warned about
    char error_[200] = "";
    char header_warning_[200] = "";
};

// A whole PNG in memory, decoded without callbacks; data that stops before its end is refused.
Tamba *decode_png (const Format &format, const char *context, const guchar *data, size_t size);

}  // namespace tamba::loader

#endif  // TAMBA_LOADERS_CODEC_PNG_READER_H
