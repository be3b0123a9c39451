// SPDX-License-Identifier: LGPL-2.1-or-later
// Shared by the project's own decoders (bmp, ico, ras, pnm): a byte-stream decoder that keeps its
// state between pieces of any size, the dimension limit, image allocation, and the module entry
// points built on them. Header-only so each module carries its own copy and stays self-contained.
#ifndef TAMBA_LOADERS_STREAM_DECODER_H
#define TAMBA_LOADERS_STREAM_DECODER_H

#include <glib.h>
#include <gmodule.h>

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "tamba/tamba.h"

namespace tamba::detail {

// Largest image the decoders accept: each side at most kMaxDimension and at most kMaxPixels in
// all (1 GiB of RGBA). Checked before anything is allocated from a header field.
inline constexpr int kMaxDimension = 65535;
inline constexpr std::int64_t kMaxPixels = std::int64_t (1) << 28;

inline std::uint16_t read_le16 (const guchar *p) { return std::uint16_t (p[0] | (p[1] << 8)); }
inline std::uint32_t read_le32 (const guchar *p)
{
    return std::uint32_t (p[0]) | (std::uint32_t (p[1]) << 8) | (std::uint32_t (p[2]) << 16)
           | (std::uint32_t (p[3]) << 24);
}
inline std::uint32_t read_be32 (const guchar *p)
{
    return (std::uint32_t (p[0]) << 24) | (std::uint32_t (p[1]) << 16) | (std::uint32_t (p[2]) << 8)
           | std::uint32_t (p[3]);
}

// One-line warning prefixed with the format name; every decoder failure goes through here.
G_GNUC_PRINTF (2, 3) inline void decoder_warning (const char *format_name, const char *fmt, ...)
{
    va_list args;
    va_start (args, fmt);
    gchar *text = g_strdup_vprintf (fmt, args);
    va_end (args);
    g_warning ("%s: %s", format_name, text);
    g_free (text);
}

// True when width x height lies within the limits; warns otherwise.
inline bool dimensions_ok (const char *format_name, std::int64_t width, std::int64_t height)
{
    if (width >= 1 && height >= 1 && width <= kMaxDimension && height <= kMaxDimension
        && width * height <= kMaxPixels)
        return true;
    decoder_warning (format_name, "image size %" G_GINT64_FORMAT "x%" G_GINT64_FORMAT
                     " is outside the supported range (1 to %d per side, at most %" G_GINT64_FORMAT
                     " pixels)", width, height, kMaxDimension, kMaxPixels);
    return false;
}

// A decoder fed with a byte stream in pieces of any size. A subclass works in steps: want()
// says how many contiguous bytes its next step needs, and step() is then called with at least
// that many and returns how many it used. Bytes of a step that straddles pieces are joined in a
// small buffer; otherwise steps read the caller's piece in place.
class StreamDecoder {
public:
    explicit StreamDecoder (const char *format_name) : format_name_ (format_name) {}
    virtual ~StreamDecoder ()
    {
        if (image_) tamba_unref (image_);
    }
    StreamDecoder (const StreamDecoder &) = delete;
    StreamDecoder &operator= (const StreamDecoder &) = delete;

    // Progressive use: prepare once the image exists, update for each finished row.
    void set_callbacks (TambaPrepareFunc prepare, TambaUpdateFunc update, gpointer user_data)
    {
        prepare_ = prepare;
        update_ = update;
        user_data_ = user_data;
        progressive_ = true;
    }

    // Consumes one piece; false once the data has proved bad. Bytes after the end of the image
    // are ignored.
    bool feed (const guchar *data, size_t size)
    {
        if (failed_) return false;
        while (!done_ && !failed_ && held_.size () > held_start_) {
            const size_t need = next_want ();
            size_t have = held_.size () - held_start_;
            if (have < need) {
                const size_t n = std::min (need - have, size);
                held_.insert (held_.end (), data, data + n);
                data += n;
                size -= n;
                have += n;
                if (have < need) return true;
            }
            const size_t used = run_step (held_.data () + held_start_, have);
            held_start_ += used;
            if (held_start_ == held_.size ()) {
                held_.clear ();
                held_start_ = 0;
            }
        }
        while (!done_ && !failed_ && size > 0 && size >= next_want ()) {
            const size_t used = run_step (data, size);
            data += used;
            size -= used;
        }
        if (!done_ && !failed_ && size > 0) {
            if (held_start_ > 0) {
                held_.erase (held_.begin (), held_.begin () + std::ptrdiff_t (held_start_));
                held_start_ = 0;
            }
            held_.insert (held_.end (), data, data + size);
        }
        return !failed_;
    }

    // After the last piece: true when the image is complete (or acceptably so, see at_end).
    bool finish ()
    {
        if (failed_) return false;
        if (!done_ && !at_end ()) {
            fail ("premature end of data");
            return false;
        }
        done_ = true;
        return image_ != nullptr;
    }

    // The decoded image with the caller's reference.
    Tamba *take_image ()
    {
        Tamba *t = image_;
        image_ = nullptr;
        return t;
    }

protected:
    virtual size_t want () const = 0;
    // Called with size >= want(); returns the bytes used. A step may use nothing when it only
    // changes what it wants next.
    virtual size_t step (const guchar *data, size_t size) = 0;
    // The data ended before finished(): true when what was decoded stands as the image.
    virtual bool at_end () { return false; }

    bool fail (const char *fmt, ...) G_GNUC_PRINTF (2, 3)
    {
        va_list args;
        va_start (args, fmt);
        gchar *text = g_strdup_vprintf (fmt, args);
        va_end (args);
        decoder_warning (format_name_, "%s", text);
        g_free (text);
        failed_ = true;
        return false;
    }
    // Fails without a message of its own, after a helper has already said what went wrong.
    bool fail_quietly ()
    {
        failed_ = true;
        return false;
    }
    void finished () { done_ = true; }
    bool is_progressive () const { return progressive_; }
    const char *format_name () const { return format_name_; }

    // Checks the size, allocates the image and announces it. A progressive image starts cleared
    // (transparent black, or black) so that rows not yet decoded are defined; so does one whose
    // decoder may skip pixels (clear).
    bool start_image (bool has_alpha, std::int64_t width, std::int64_t height, bool clear)
    {
        if (!dimensions_ok (format_name_, width, height)) return fail_quietly ();
        image_ = tamba_new (GDK_COLORSPACE_RGB, has_alpha, 8, int (width), int (height));
        if (!image_) return fail ("not enough memory for a %dx%d image", int (width), int (height));
        if (clear || progressive_)
            std::memset (image_->pixels, 0, size_t (image_->rowstride) * size_t (image_->height));
        if (prepare_) prepare_ (image_, user_data_);
        return true;
    }
    guchar *row (int y) const { return image_->pixels + size_t (y) * size_t (image_->rowstride); }
    // Rows [y, y + n) of the image are final.
    void rows_done (int y, int n)
    {
        if (update_ && n > 0) update_ (image_, 0, guint (y), guint (image_->width), guint (n), user_data_);
    }

    Tamba *image_ = nullptr;

private:
    size_t next_want () const { return std::max<size_t> (want (), 1); }
    size_t run_step (const guchar *data, size_t size)
    {
        const size_t used = std::min (step (data, size), size);
        // A few steps in a row may only change state; more means the decoder is stuck.
        idle_steps_ = used ? 0 : idle_steps_ + 1;
        if (idle_steps_ > 8 && !failed_ && !done_) fail ("decoder made no progress");
        return used;
    }

    const char *format_name_;
    TambaPrepareFunc prepare_ = nullptr;
    TambaUpdateFunc update_ = nullptr;
    gpointer user_data_ = nullptr;
    bool progressive_ = false;
    bool failed_ = false;
    bool done_ = false;
    std::vector<guchar> held_;
    size_t held_start_ = 0;
    int idle_steps_ = 0;
};

// The module entry points, for a decoder type D constructible without arguments. Nothing may
// unwind into the caller, so allocation failures inside become a failed load.
template <class D> Tamba *load_file (FILE *f)
{
    try {
        D decoder;
        constexpr size_t kChunk = 256 * 1024;
        std::unique_ptr<guchar[]> buf (new guchar[kChunk]);
        for (;;) {
            const size_t n = std::fread (buf.get (), 1, kChunk, f);
            if (n > 0 && !decoder.feed (buf.get (), n)) return nullptr;
            if (n < kChunk) break;
        }
        return decoder.finish () ? decoder.take_image () : nullptr;
    } catch (const std::bad_alloc &) {
        g_warning ("out of memory while loading an image");
        return nullptr;
    }
}

template <class D> gpointer begin_load (TambaPrepareFunc prepare, TambaUpdateFunc update,
                                        gpointer user_data) noexcept
{
    auto *decoder = new (std::nothrow) D ();
    if (decoder) decoder->set_callbacks (prepare, update, user_data);
    return decoder;
}

// A finished or truncated load keeps what it decoded; finish() warns when data was missing.
inline void stop_load (gpointer context) noexcept
{
    auto *decoder = static_cast<StreamDecoder *> (context);
    if (!decoder) return;
    decoder->finish ();
    delete decoder;
}

inline gboolean load_increment (gpointer context, const guchar *buf, guint size) noexcept
{
    auto *decoder = static_cast<StreamDecoder *> (context);
    if (!decoder || (!buf && size > 0)) return FALSE;
    try {
        return decoder->feed (buf, size);
    } catch (const std::bad_alloc &) {
        g_warning ("out of memory while loading an image");
        return FALSE;
    }
}

}  // namespace tamba::detail

// Defines the four module entry points of format NAME over decoder type DECODER.
#define TAMBA_DEFINE_STREAM_MODULE(NAME, DECODER)                                                \
    extern "C" G_MODULE_EXPORT Tamba *tamba__##NAME##_image_load (FILE *f)                      \
    {                                                                                            \
        return tamba::detail::load_file<DECODER> (f);                                            \
    }                                                                                            \
    extern "C" G_MODULE_EXPORT gpointer tamba__##NAME##_image_begin_load (                       \
        TambaPrepareFunc prepare, TambaUpdateFunc update, TambaFrameDoneFunc,                    \
        TambaAnimationDoneFunc, gpointer user_data)                                              \
    {                                                                                            \
        return tamba::detail::begin_load<DECODER> (prepare, update, user_data);                  \
    }                                                                                            \
    extern "C" G_MODULE_EXPORT void tamba__##NAME##_image_stop_load (gpointer context)           \
    {                                                                                            \
        tamba::detail::stop_load (context);                                                      \
    }                                                                                            \
    extern "C" G_MODULE_EXPORT gboolean tamba__##NAME##_image_load_increment (                   \
        gpointer context, const guchar *buf, guint size)                                         \
    {                                                                                            \
        return tamba::detail::load_increment (context, buf, size);                               \
    }

#endif  // TAMBA_LOADERS_STREAM_DECODER_H
