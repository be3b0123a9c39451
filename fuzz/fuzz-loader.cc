// SPDX-License-Identifier: LGPL-2.1-or-later
// The progressive loader over the whole format table: the payload is fed to tamba_loader_write in
// pieces whose sizes come from the input's last 4 bytes, then the loader is closed and released.
// Modules are found through the library search path (LD_LIBRARY_PATH=<build>/loaders).
#include <glib-object.h>

#include "fuzz-input.h"
#include "tamba/tamba.h"

namespace {

constexpr size_t kPieceOptionBytes = 4;

void check_image (const Tamba *image)
{
    if (image && (image->width <= 0 || image->height <= 0 || !image->pixels))
        tamba::fuzz::fail ("loader holds an image without pixels");
}

// Update rectangles must lie inside the image being loaded. Once an animation holds finished
// frames, updates refer to the frame in progress, which the loader does not expose, so only
// updates before the first finished frame are checked. The first parameter is untyped as the
// signal's marshaller calls it.
void on_area_updated (gpointer instance, gint x, gint y, gint width, gint height, gpointer)
{
    auto *loader = static_cast<TambaLoader *> (instance);
    if (tamba_loader_get_animation (loader)) return;
    const Tamba *image = tamba_loader_get_tamba (loader);
    if (!image) tamba::fuzz::fail ("area_updated without an image");
    if (x < 0 || y < 0 || width < 0 || height < 0 || gint64 (x) + width > image->width
        || gint64 (y) + height > image->height)
        tamba::fuzz::fail ("area_updated outside the image");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput (const std::uint8_t *data, size_t size)
{
    const tamba::fuzz::FuzzInput input (data, size, kPieceOptionBytes);
    const auto sizes = tamba::fuzz::piece_sizes (input.options ());
    const auto &bytes = input.payload ();

    TambaLoader *loader = tamba_loader_new ();
    g_signal_connect (loader, "area_updated", G_CALLBACK (on_area_updated), nullptr);
    size_t turn = 0;
    for (size_t off = 0, n = 0; off < bytes.size (); off += n) {
        n = std::min (sizes[turn++ % sizes.size ()], bytes.size () - off);
        // Each piece in a buffer of its own size, so reading past it is caught.
        const std::vector<guchar> piece (bytes.begin () + long (off),
                                         bytes.begin () + long (off + n));
        if (!tamba_loader_write (loader, piece.data (), n)) break;
        check_image (tamba_loader_get_tamba (loader));
    }
    tamba_loader_close (loader);
    check_image (tamba_loader_get_tamba (loader));
    if (TambaAnimation *animation = tamba_loader_get_animation (loader)) {
        if (animation->n_frames < 0 || g_list_length (animation->frames) != guint (animation->n_frames))
            tamba::fuzz::fail ("animation frame count differs from its list");
        for (GList *l = animation->frames; l; l = l->next)
            check_image (static_cast<TambaFrame *> (l->data)->tamba);
    }
    g_object_unref (loader);
    return 0;
}
