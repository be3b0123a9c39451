// SPDX-License-Identifier: LGPL-2.1-or-later
// The exported entry points of a module, written once over its Decoder class (decoder.h):
//
//   TAMBA_LOADER_MODULE (bmp, BmpDecoder)             image_load and the progressive three
//   TAMBA_LOADER_MODULE (gif, GifDecoder, animation)  ... plus image_load_animation
//   TAMBA_LOADER_MODULE (xpm, XpmDecoder, xpm_data)   ... plus image_load_xpm_data
//
// The name is the module's (libtambaloader-<name>.so) and picks its row of limits.h. Every
// entry runs inside one exception fence: whatever a decoder throws (in practice bad_alloc)
// ends that load with a warning and NULL or FALSE. Whole-file loads read the file through one
// loop in 64 KiB pieces. Entries a module has beyond these (image_save, image_load_at_size)
// are written out in the module and use fence() and read_file() the same way.
#ifndef TAMBA_LOADERS_COMMON_MODULE_ENTRY_H
#define TAMBA_LOADERS_COMMON_MODULE_ENTRY_H

#include <gmodule.h>

#include <cstdio>
#include <memory>
#include <new>
#include <utility>

#include "decoder.h"
#include "image-alloc.h"
#include "limits.h"
#include "messages.h"

#define TAMBA_LOADER_ENTRY extern "C" G_MODULE_EXPORT

namespace tamba::loader {

// Runs body(); an exception becomes `failed` and a warning.
template <class R, class Body>
R fence (const Format &format, R failed, Body &&body) noexcept
{
    try {
        return body ();
    } catch (const std::bad_alloc &) {
        warn (format, "not enough memory to load the image");
    } catch (...) {
        warn (format, "internal error while loading the image");
    }
    return failed;
}

// Hands the rest of file to feed(bytes, size) until it returns false or the file ends; false
// when feed refused a piece.
template <class Feed>
bool read_file (FILE *file, Feed &&feed)
{
    static constexpr size_t kPiece = 65536;
    const std::unique_ptr<guchar[]> piece (new guchar[kPiece]);
    for (;;) {
        const size_t n = std::fread (piece.get (), 1, kPiece, file);
        if (n == 0) return true;
        if (!feed (piece.get (), n)) return false;
    }
}

// A whole-file load through an existing decoder: the image or NULL (warned).
template <class D>
Tamba *decode_file (D &decoder, FILE *file)
{
    if constexpr (requires { decoder.start (); })
        if (!decoder.start ()) return nullptr;
    if (!read_file (file, [&] (const guchar *p, size_t n) { return decoder.feed (p, n); }))
        return nullptr;
    return decoder.finish ();
}

namespace entry {

// Frames handed over by a whole-file load of an animated format, each with its own reference
// to its image, kept newest first.
class FrameCollector {
public:
    FrameCollector () = default;
    FrameCollector (const FrameCollector &) = delete;
    FrameCollector &operator= (const FrameCollector &) = delete;
    ~FrameCollector ()
    {
        for (GList *l = frames_; l; l = l->next) {
            auto *frame = static_cast<TambaFrame *> (l->data);
            tamba_unref (frame->tamba);
            g_free (frame);
        }
        g_list_free (frames_);
    }

    ProgressSink sink () { return ProgressSink {nullptr, nullptr, add, nullptr, this}; }
    int count () const { return count_; }
    TambaFrame *first () const
    {
        return frames_ ? static_cast<TambaFrame *> (g_list_last (frames_)->data) : nullptr;
    }
    // The frames in display order; the caller owns the list, the records and the references.
    GList *release ()
    {
        GList *list = g_list_reverse (frames_);
        frames_ = nullptr;
        count_ = 0;
        return list;
    }

private:
    static void add (TambaFrame *frame, gpointer self)
    {
        auto *c = static_cast<FrameCollector *> (self);
        tamba_ref (frame->tamba);
        c->frames_ = g_list_prepend (c->frames_, frame);
        ++c->count_;
    }

    GList *frames_ = nullptr;
    int count_ = 0;
};

// A frame on its logical screen: the frame's own image when it covers the screen, else a
// screen-sized RGBA image, transparent outside the frame (which lies wholly inside it). Frame
// and canvas are held together for the copy, so together they stay within the format's pixel
// limit, as one image would.
inline Tamba *compose_on_screen (const Format &format, const TambaFrame *frame, int screen_width,
                                 int screen_height)
{
    const Tamba *src = frame->tamba;
    if (frame->x_offset == 0 && frame->y_offset == 0 && src->width == screen_width
        && src->height == screen_height)
        return tamba_ref (frame->tamba);
    if (std::int64_t (src->width) * src->height + std::int64_t (screen_width) * screen_height
        > format.max_pixels) {
        warn (format, "the screen and its first frame together exceed %" G_GINT64_FORMAT " pixels",
              std::int64_t (format.max_pixels));
        return nullptr;
    }
    Tamba *canvas = new_image (format, true, screen_width, screen_height);
    if (!canvas) return nullptr;
    for (int y = 0; y < src->height; ++y) {
        const guchar *in = src->pixels + size_t (y) * size_t (src->rowstride);
        guchar *out = canvas->pixels + size_t (y + frame->y_offset) * size_t (canvas->rowstride)
                      + size_t (frame->x_offset) * 4;
        for (int x = 0; x < src->width; ++x, in += src->n_channels, out += 4) {
            out[0] = in[0];
            out[1] = in[1];
            out[2] = in[2];
            out[3] = src->has_alpha ? in[3] : 255;
        }
    }
    return canvas;
}

// What an image_load of each kind of module returns.
enum class Kind { image, animation, xpm_data };

// The whole file decoded; for animations (D has screen_width(), screen_height() and warned())
// the first frame on its screen, read no further than that frame. Damaged animations keep the
// frames decoded before the damage.
template <class D, Kind kind>
Tamba *load_file (const Format &format, FILE *file)
{
    if constexpr (kind != Kind::animation) {
        D decoder {ProgressSink {}};
        return decode_file (decoder, file);
    } else {
        FrameCollector frames;
        D decoder {frames.sink ()};
        read_file (file, [&] (const guchar *p, size_t n) {
            return decoder.feed (p, n) && frames.count () == 0;
        });
        if (frames.count () == 0) decoder.finish ();
        if (frames.count () == 0) {
            // Said only when the decoder has not said why.
            if (!decoder.warned ()) warn (format, "the data holds no image");
            return nullptr;
        }
        return compose_on_screen (format, frames.first (), decoder.screen_width (),
                                  decoder.screen_height ());
    }
}

// Every frame of an animated format.
template <class D>
TambaAnimation *load_frames (const Format &format, FILE *file)
{
    FrameCollector frames;
    D decoder {frames.sink ()};
    read_file (file, [&] (const guchar *p, size_t n) { return decoder.feed (p, n); });
    decoder.finish ();
    if (frames.count () == 0) {
        if (!decoder.warned ()) warn (format, "the data holds no image");
        return nullptr;
    }
    auto *animation = static_cast<TambaAnimation *> (g_malloc0 (sizeof (TambaAnimation)));
    animation->ref_count = 1;
    animation->n_frames = frames.count ();
    animation->width = decoder.screen_width ();
    animation->height = decoder.screen_height ();
    animation->frames = frames.release ();
    return animation;
}

template <class D>
gpointer begin (TambaPrepareFunc prepare, TambaUpdateFunc update, TambaFrameDoneFunc frame_done,
                TambaAnimationDoneFunc animation_done, gpointer user_data)
{
    auto decoder = std::make_unique<D> (
        ProgressSink {prepare, update, frame_done, animation_done, user_data});
    if constexpr (requires { decoder->start (); })
        if (!decoder->start ()) return nullptr;
    return decoder.release ();
}

template <class D>
gboolean increment (gpointer context, const guchar *data, guint size)
{
    if (!context || (!data && size > 0)) return FALSE;
    static const guchar kNothing = 0;
    auto *decoder = static_cast<D *> (context);
    const bool ok = decoder->feed (data ? data : &kNothing, size);
    decoder->sink ().flush ();
    return ok;
}

template <class D>
void stop (gpointer context)
{
    std::unique_ptr<D> decoder (static_cast<D *> (context));
    if (!decoder) return;
    decoder->stop ();
    decoder->sink ().flush ();
}

}  // namespace entry
}  // namespace tamba::loader

#define TAMBA_LOADER_EXTRA_image(name, D)
#define TAMBA_LOADER_EXTRA_animation(name, D)                                                   \
    TAMBA_LOADER_ENTRY TambaAnimation *tamba__##name##_image_load_animation (FILE *f)          \
    {                                                                                          \
        using namespace ::tamba::loader;                                                       \
        return fence (formats::name, (TambaAnimation *) nullptr,                               \
                      [&] { return f ? entry::load_frames<D> (formats::name, f) : nullptr; }); \
    }
#define TAMBA_LOADER_EXTRA_xpm_data(name, D)                                                    \
    TAMBA_LOADER_ENTRY Tamba *tamba__##name##_image_load_xpm_data (const char **data)          \
    {                                                                                          \
        using namespace ::tamba::loader;                                                       \
        return fence (formats::name, (Tamba *) nullptr,                                        \
                      [&] { return data ? D::load_xpm_data (data) : nullptr; });              \
    }

#define TAMBA_LOADER_MODULE_(name, D, kind)                                                     \
    TAMBA_LOADER_ENTRY Tamba *tamba__##name##_image_load (FILE *f)                             \
    {                                                                                          \
        using namespace ::tamba::loader;                                                       \
        return fence (formats::name, (Tamba *) nullptr,                                        \
                      [&] {                                                 \
            return f ? entry::load_file<D, entry::Kind::kind> (formats::name, f) : nullptr;    \
        });                                                                                    \
    }                                                                                          \
    TAMBA_LOADER_ENTRY gpointer tamba__##name##_image_begin_load (                             \
        TambaPrepareFunc prepare, TambaUpdateFunc update, TambaFrameDoneFunc frame_done,       \
        TambaAnimationDoneFunc animation_done, gpointer user_data)                             \
    {                                                                                          \
        using namespace ::tamba::loader;                                                       \
        return fence (formats::name, gpointer (nullptr), [&] {                                 \
            return entry::begin<D> (prepare, update, frame_done, animation_done, user_data);   \
        });                                                                                    \
    }                                                                                          \
    TAMBA_LOADER_ENTRY gboolean tamba__##name##_image_load_increment (                         \
        gpointer context, const guchar *buf, guint size)                                       \
    {                                                                                          \
        using namespace ::tamba::loader;                                                       \
        return fence (formats::name, gboolean (FALSE),                                         \
                      [&] { return entry::increment<D> (context, buf, size); });               \
    }                                                                                          \
    TAMBA_LOADER_ENTRY void tamba__##name##_image_stop_load (gpointer context)                 \
    {                                                                                          \
        using namespace ::tamba::loader;                                                       \
        fence (formats::name, 0, [&] { return entry::stop<D> (context), 0; });                 \
    }                                                                                          \
    TAMBA_LOADER_EXTRA_##kind (name, D)

#define TAMBA_LOADER_PICK_(a, b, c, chosen, ...) chosen
#define TAMBA_LOADER_MODULE_2_(name, D) TAMBA_LOADER_MODULE_ (name, D, image)
#define TAMBA_LOADER_MODULE(...)                                                                \
    TAMBA_LOADER_PICK_ (__VA_ARGS__, TAMBA_LOADER_MODULE_, TAMBA_LOADER_MODULE_2_, )            \
    (__VA_ARGS__)

#endif  // TAMBA_LOADERS_COMMON_MODULE_ENTRY_H
