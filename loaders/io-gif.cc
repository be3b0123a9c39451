// SPDX-License-Identifier: LGPL-2.1-or-later
// GIF loader module: still images, animations and progressive loading, all through the
// streaming decoder in gif-decoder.cc (whose header documents how images become frames).
//
// Whole-file `load` returns the first frame composed on the logical screen: the frame itself
// when it covers the screen, else a screen-sized RGBA image, transparent outside the frame.
// Truncated or damaged data keeps every frame decoded before the damage.
#include <exception>

#include "gif-decoder.h"

using tamba::detail::GifDecoder;
using tamba::detail::ProgressCallbacks;

namespace {

// Frames gathered by a whole-file load, each with its own reference to its image.
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

    static void add (TambaFrame *frame, gpointer self)
    {
        auto *c = static_cast<FrameCollector *> (self);
        tamba_ref (frame->tamba);
        c->frames_ = g_list_prepend (c->frames_, frame);
        ++c->count_;
    }

    ProgressCallbacks callbacks () { return ProgressCallbacks {nullptr, nullptr, add, nullptr, this}; }
    int count () const { return count_; }
    // The frames are kept newest first.
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
    GList *frames_ = nullptr;
    int count_ = 0;
};

Tamba *compose_on_screen (const TambaFrame *frame, int screen_width, int screen_height)
{
    const Tamba *src = frame->tamba;
    if (frame->x_offset == 0 && frame->y_offset == 0 && src->width == screen_width
        && src->height == screen_height)
        return tamba_ref (frame->tamba);
    Tamba *canvas = tamba::detail::new_blank_image ("GIF", true, screen_width, screen_height);
    if (!canvas) return nullptr;
    // Frames are clipped to the screen, so the frame lies wholly inside the canvas.
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

}  // namespace

TAMBA_MODULE_ENTRY Tamba *tamba__gif_image_load (FILE *f);
TAMBA_MODULE_ENTRY TambaAnimation *tamba__gif_image_load_animation (FILE *f);

Tamba *tamba__gif_image_load (FILE *f)
{
    if (!f) return nullptr;
    try {
        FrameCollector frames;
        GifDecoder decoder (frames.callbacks ());
        tamba::detail::feed_file (decoder, f, [&] { return frames.count () > 0; });
        if (frames.count () == 0) decoder.finish ();
        if (frames.count () == 0) {
            g_warning ("GIF: the data holds no image");
            return nullptr;
        }
        return compose_on_screen (frames.first (), decoder.screen_width (),
                                  decoder.screen_height ());
    } catch (const std::exception &) {
        return nullptr;
    }
}

TambaAnimation *tamba__gif_image_load_animation (FILE *f)
{
    if (!f) return nullptr;
    try {
        FrameCollector frames;
        GifDecoder decoder (frames.callbacks ());
        tamba::detail::feed_file (decoder, f);
        decoder.finish ();
        if (frames.count () == 0) {
            g_warning ("GIF: the data holds no image");
            return nullptr;
        }
        auto *animation = static_cast<TambaAnimation *> (g_malloc0 (sizeof (TambaAnimation)));
        animation->ref_count = 1;
        animation->n_frames = frames.count ();
        animation->width = decoder.screen_width ();
        animation->height = decoder.screen_height ();
        animation->frames = frames.release ();
        return animation;
    } catch (const std::exception &) {
        return nullptr;
    }
}

TAMBA_DEFINE_PROGRESSIVE_ENTRIES (gif, GifDecoder)
