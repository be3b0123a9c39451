// SPDX-License-Identifier: LGPL-2.1-or-later
// Shared by the modules built on codec libraries (png, jpeg, tiff): the size limit every image
// must pass before pixel memory is allocated, the failure message, reading a whole stream and
// the progressive callbacks a module was handed.
#ifndef TAMBA_LOADERS_LIBCODEC_SUPPORT_H
#define TAMBA_LOADERS_LIBCODEC_SUPPORT_H

#include <cstdint>
#include <cstdio>
#include <new>
#include <vector>

#include "tamba/tamba.h"

namespace tamba::detail {

// No side may exceed 2^24 pixels and no image 2^28 pixels (1 GiB of RGBA): a header field alone
// never decides how much memory is taken.
inline constexpr std::uint64_t kMaxImageSide = std::uint64_t (1) << 24;
inline constexpr std::uint64_t kMaxImagePixels = std::uint64_t (1) << 28;
inline constexpr char kTooLargeMessage[] =
    "image is larger than the supported 16777216 pixels per side or 268435456 pixels in all";
inline constexpr char kNoMemoryMessage[] = "not enough memory for the image";

inline bool image_size_allowed (std::uint64_t width, std::uint64_t height) noexcept
{
    return width > 0 && height > 0 && width <= kMaxImageSide && height <= kMaxImageSide
           && width * height <= kMaxImagePixels;
}

// The one warning a failed load leaves: the format and what went wrong, on one line (library
// messages that span lines are joined).
inline void warn_load_failed (const char *format, const char *reason) noexcept
{
    char line[512];
    g_strlcpy (line, reason ? reason : "unknown error", sizeof line);
    for (char *c = line; *c; ++c)
        if (*c == '\n' || *c == '\r' || *c == '\t') *c = ' ';
    g_warning ("Failed to load %s image: %s", format, line);
}

// Copies a caller's message into a fixed buffer (usable where a longjmp may follow).
template <size_t N>
inline void keep_message (char (&dest)[N], const char *text) noexcept
{
    g_strlcpy (dest, text ? text : "unknown error", N);
}

// Appends the rest of the stream to out; false when reading fails or memory runs out.
inline bool read_stream (FILE *f, std::vector<guchar> &out) noexcept
{
    try {
        guchar chunk[65536];
        size_t n;
        while ((n = std::fread (chunk, 1, sizeof chunk, f)) > 0)
            out.insert (out.end (), chunk, chunk + n);
        return !std::ferror (f);
    } catch (const std::bad_alloc &) {
        return false;
    }
}

// The callbacks of a progressive load; all null for a whole-file load.
struct ProgressSink {
    TambaPrepareFunc prepare = nullptr;
    TambaUpdateFunc update = nullptr;
    gpointer user_data = nullptr;

    void prepared (Tamba *image) const
    {
        if (prepare) prepare (image, user_data);
    }
    void updated (Tamba *image, guint x, guint y, guint width, guint height) const
    {
        if (update && width > 0 && height > 0) update (image, x, y, width, height, user_data);
    }
};

// The entry points of a module whose decoder takes bytes as they come: Decode has a
// constructor from a ProgressSink, start(), feed(bytes, size) and finish() (the finished image
// with the caller's reference, or NULL), each reporting its own failure; optionally unclaimed().
template <class Decode>
Tamba *decode_stream (Decode &decode, FILE *f) noexcept
{
    if (!decode.start ()) return nullptr;
    guchar chunk[65536];
    size_t n;
    while ((n = std::fread (chunk, 1, sizeof chunk, f)) > 0)
        if (!decode.feed (chunk, n)) return nullptr;
    return decode.finish ();
}

template <class Decode>
Tamba *load_through_decoder (FILE *f) noexcept
{
    Decode decode (ProgressSink {});
    return decode_stream (decode, f);
}

template <class Decode>
gpointer begin_decoder (TambaPrepareFunc prepare, TambaUpdateFunc update, gpointer user_data) noexcept
{
    auto *decode = new (std::nothrow) Decode (ProgressSink {prepare, update, user_data});
    if (decode && !decode->start ()) {
        delete decode;
        return nullptr;
    }
    return decode;
}

template <class Decode>
void stop_decoder (gpointer context) noexcept
{
    auto *decode = static_cast<Decode *> (context);
    if (!decode) return;
    // The loader took its own reference at prepare; the module's goes with the decoder. A
    // decoder that can tell nobody took one skips decoding the rest (it would be thrown away).
    bool finish = true;
    if constexpr (requires { decode->unclaimed (); }) finish = !decode->unclaimed ();
    if (finish)
        if (Tamba *image = decode->finish ()) tamba_unref (image);
    delete decode;
}

template <class Decode>
gboolean feed_decoder (gpointer context, const guchar *buf, guint size) noexcept
{
    auto *decode = static_cast<Decode *> (context);
    if (!decode || (!buf && size)) return FALSE;
    return decode->feed (buf, size);
}

}  // namespace tamba::detail

// Defines the whole-file and the three progressive entry points of module NAME on Decode.
#define TAMBA_DEFINE_CODEC_MODULE(NAME, DECODE)                                                    \
    extern "C" G_MODULE_EXPORT Tamba *tamba__##NAME##_image_load (FILE *f)                        \
    {                                                                                             \
        return tamba::detail::load_through_decoder<DECODE> (f);                                   \
    }                                                                                             \
    extern "C" G_MODULE_EXPORT gpointer tamba__##NAME##_image_begin_load (                        \
        TambaPrepareFunc prepare_func, TambaUpdateFunc update_func, TambaFrameDoneFunc,          \
        TambaAnimationDoneFunc, gpointer user_data)                                               \
    {                                                                                             \
        return tamba::detail::begin_decoder<DECODE> (prepare_func, update_func, user_data);      \
    }                                                                                             \
    extern "C" G_MODULE_EXPORT void tamba__##NAME##_image_stop_load (gpointer context)            \
    {                                                                                             \
        tamba::detail::stop_decoder<DECODE> (context);                                            \
    }                                                                                             \
    extern "C" G_MODULE_EXPORT gboolean tamba__##NAME##_image_load_increment (                    \
        gpointer context, const guchar *buf, guint size)                                          \
    {                                                                                             \
        return tamba::detail::feed_decoder<DECODE> (context, buf, size);                          \
    }

#endif  // TAMBA_LOADERS_LIBCODEC_SUPPORT_H
