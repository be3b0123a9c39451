// SPDX-License-Identifier: LGPL-2.1-or-later
// Shared by the GIF, XPM and XBM modules: the size limit every decoder checks before it
// allocates, blank images, update bands, whole-file feeding and the progressive entry glue.
//
// Each of these decoders is a class with `bool feed (const guchar *, size_t)` that accepts its
// data in pieces of any size and keeps its state between pieces; whole-file loading feeds the
// same class from the file.
#ifndef TAMBA_LOADERS_PIECEWISE_DECODER_H
#define TAMBA_LOADERS_PIECEWISE_DECODER_H

#include <glib.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string_view>

#include "tamba/tamba.h"

#define TAMBA_MODULE_ENTRY extern "C" __attribute__ ((visibility ("default")))

namespace tamba::detail {

// Images are at most 65535 pixels on a side and 2^28 pixels (1 GiB of RGBA) in all; larger
// headers are refused before anything is allocated.
inline constexpr std::int64_t kMaxSide = 65535;
inline constexpr std::int64_t kMaxPixels = std::int64_t (1) << 28;

inline bool dimensions_ok (std::int64_t width, std::int64_t height) noexcept
{
    return width > 0 && height > 0 && width <= kMaxSide && height <= kMaxSide
           && width * height <= kMaxPixels;
}

// A new image with every byte zero (black, and transparent when it has alpha), or NULL with a
// warning naming the format when the size is refused or memory runs out.
inline Tamba *new_blank_image (const char *format, bool has_alpha, int width, int height) noexcept
{
    if (!dimensions_ok (width, height)) {
        g_warning ("%s: image size %dx%d is outside the supported range", format, width, height);
        return nullptr;
    }
    Tamba *image = tamba_new (GDK_COLORSPACE_RGB, has_alpha, 8, width, height);
    if (!image) {
        g_warning ("%s: not enough memory for a %dx%d image", format, width, height);
        return nullptr;
    }
    std::memset (image->pixels, 0, size_t (image->rowstride) * size_t (height));
    return image;
}

// What a progressive load reports to; all null for whole-file loads that only want the result.
struct ProgressCallbacks {
    TambaPrepareFunc prepare = nullptr;
    TambaUpdateFunc update = nullptr;
    TambaFrameDoneFunc frame_done = nullptr;
    TambaAnimationDoneFunc animation_done = nullptr;
    gpointer user_data = nullptr;
};

// Finished rows gathered into one update per run of adjacent rows, so that a piece of data
// that completes many rows costs one callback.
class UpdateBand {
public:
    void add (const ProgressCallbacks &cb, Tamba *image, int row) noexcept
    {
        if (end_ > start_ && row == end_) {
            ++end_;
            return;
        }
        flush (cb, image);
        start_ = row;
        end_ = row + 1;
    }
    void flush (const ProgressCallbacks &cb, Tamba *image) noexcept
    {
        if (end_ > start_ && cb.update && image)
            cb.update (image, 0, guint (start_), guint (image->width), guint (end_ - start_),
                       cb.user_data);
        start_ = end_ = 0;
    }

private:
    int start_ = 0;
    int end_ = 0;
};

// Compares the first bytes of a stream with a fixed signature as they arrive.
class SignatureCheck {
public:
    explicit SignatureCheck (std::string_view signature) noexcept : signature_ (signature) {}
    // False as soon as a byte differs; consumes nothing.
    bool accept (const guchar *data, size_t size) noexcept
    {
        while (matched_ < signature_.size () && size > 0) {
            if (guchar (signature_[matched_]) != *data) return false;
            ++matched_;
            ++data;
            --size;
        }
        return true;
    }
    bool complete () const noexcept { return matched_ == signature_.size (); }

private:
    std::string_view signature_;
    size_t matched_ = 0;
};

// Feeds a whole file to a decoder in large pieces. False when the decoder refuses a piece;
// stops early once `done` says the caller has what it wants.
template <class Decoder, class Done>
bool feed_file (Decoder &decoder, FILE *file, Done &&done)
{
    static constexpr size_t kChunk = 65536;
    const std::unique_ptr<guchar[]> chunk (new guchar[kChunk]);
    while (!done ()) {
        const size_t n = std::fread (chunk.get (), 1, kChunk, file);
        if (n == 0) break;
        if (!decoder.feed (chunk.get (), n)) return false;
    }
    return true;
}

template <class Decoder>
bool feed_file (Decoder &decoder, FILE *file)
{
    return feed_file (decoder, file, [] { return false; });
}

// Whole-file load for a decoder whose finish() hands over the finished image or NULL.
template <class Decoder>
Tamba *load_whole_file (FILE *file) noexcept
{
    if (!file) return nullptr;
    try {
        Decoder decoder ({});
        if (!feed_file (decoder, file)) return nullptr;
        return decoder.finish ();
    } catch (...) {
        return nullptr;
    }
}

// The progressive entry points, the same for every decoder class. C++ exceptions (only
// std::bad_alloc can occur) never cross into the caller.
template <class Decoder>
gpointer begin_progressive (TambaPrepareFunc prepare, TambaUpdateFunc update,
                            TambaFrameDoneFunc frame_done, TambaAnimationDoneFunc animation_done,
                            gpointer user_data) noexcept
{
    try {
        return new Decoder (ProgressCallbacks {prepare, update, frame_done, animation_done,
                                               user_data});
    } catch (...) {
        return nullptr;
    }
}

template <class Decoder>
void stop_progressive (gpointer context) noexcept
{
    delete static_cast<Decoder *> (context);
}

template <class Decoder>
gboolean increment_progressive (gpointer context, const guchar *data, guint size) noexcept
{
    if (!context || (!data && size > 0)) return FALSE;
    static const guchar kNothing = 0;
    if (!data) data = &kNothing;
    try {
        return static_cast<Decoder *> (context)->feed (data, size);
    } catch (...) {
        return FALSE;
    }
}

}  // namespace tamba::detail

// Defines tamba__<name>_image_begin_load, tamba__<name>_image_stop_load and
// tamba__<name>_image_load_increment over a decoder class.
#define TAMBA_DEFINE_PROGRESSIVE_ENTRIES(name, Decoder)                                          \
    TAMBA_MODULE_ENTRY gpointer tamba__##name##_image_begin_load (                              \
        TambaPrepareFunc prepare, TambaUpdateFunc update, TambaFrameDoneFunc frame_done,        \
        TambaAnimationDoneFunc animation_done, gpointer user_data)                              \
    {                                                                                           \
        return tamba::detail::begin_progressive<Decoder> (prepare, update, frame_done,          \
                                                          animation_done, user_data);           \
    }                                                                                           \
    TAMBA_MODULE_ENTRY void tamba__##name##_image_stop_load (gpointer context)                  \
    {                                                                                           \
        tamba::detail::stop_progressive<Decoder> (context);                                     \
    }                                                                                           \
    TAMBA_MODULE_ENTRY gboolean tamba__##name##_image_load_increment (                          \
        gpointer context, const guchar *buf, guint size)                                        \
    {                                                                                           \
        return tamba::detail::increment_progressive<Decoder> (context, buf, size);              \
    }

#endif  // TAMBA_LOADERS_PIECEWISE_DECODER_H
