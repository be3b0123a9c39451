// SPDX-License-Identifier: LGPL-2.1-or-later
// The image record: allocation, copying, reference counting and accessors.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "tamba-private.h"

extern "C" {
const guint32 tamba_major_version = 0;
const guint32 tamba_minor_version = 18;
const guint32 tamba_micro_version = 0;
const char *tamba_version = "0.18.0";

struct _XDisplay *tamba_dpy = nullptr;
int tamba_screen = -1;
}

namespace tamba::detail {

void free_buffer (guchar *pixels, gpointer) noexcept
{
    std::free (pixels);
}

}  // namespace tamba::detail

using tamba::detail::free_buffer;

extern "C" Tamba *tamba_new (GdkColorspace colorspace, gboolean has_alpha, int bits_per_sample,
                             int width, int height)
{
    TAMBA_RETURN_VAL_IF_FAIL (colorspace == GDK_COLORSPACE_RGB,
                              "colorspace == GDK_COLORSPACE_RGB", nullptr);
    TAMBA_RETURN_VAL_IF_FAIL (bits_per_sample == 8, "bits_per_sample == 8", nullptr);
    TAMBA_RETURN_VAL_IF_FAIL (width > 0, "width > 0", nullptr);
    TAMBA_RETURN_VAL_IF_FAIL (height > 0, "height > 0", nullptr);

    const std::int64_t channels = has_alpha ? 4 : 3;
    // The row's byte count, its padded form and the whole size are formed in 64 bits; each
    // limit is the one a 32-bit product would have overflowed, so the same sizes are refused.
    const std::int64_t row_bytes = std::int64_t (width) * channels;
    if (row_bytes + 3 > G_MAXINT) return nullptr;
    const std::int64_t rowstride = (row_bytes + 3) & ~std::int64_t (3);
    const std::uint64_t bytes = std::uint64_t (height) * std::uint64_t (rowstride);
    if (bytes > G_MAXUINT32 || bytes > SIZE_MAX) return nullptr;

    auto *pixels = static_cast<guchar *> (std::malloc (size_t (bytes)));
    if (!pixels) return nullptr;

    // The pixels are uninitialised by design; the wrapper only stores the pointer.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
    return tamba_new_from_data (pixels, GDK_COLORSPACE_RGB, has_alpha, 8, width, height,
                                int (rowstride), free_buffer, nullptr);
#pragma GCC diagnostic pop
}

extern "C" Tamba *tamba_copy (const Tamba *tamba)
{
    TAMBA_RETURN_VAL_IF_FAIL (tamba != nullptr, "tamba != NULL", nullptr);

    // The last row is copied only as far as its pixels reach, so padding after it (which a
    // caller's buffer may not even have) is never read.
    const std::int64_t pixel_bytes = (tamba->n_channels * tamba->bits_per_sample + 7) / 8;
    const std::int64_t size = std::int64_t (tamba->height - 1) * tamba->rowstride
                              + std::int64_t (tamba->width) * pixel_bytes;
    // With a negative rowstride the rows lie before the first one, where a copy from the first
    // byte onwards would read past the buffer.
    if (size <= 0 || std::uint64_t (size) > SIZE_MAX || (tamba->rowstride < 0 && tamba->height > 1))
        return nullptr;

    auto *pixels = static_cast<guchar *> (std::malloc (size_t (size)));
    if (!pixels) return nullptr;
    std::memcpy (pixels, tamba->pixels, size_t (size));

    return tamba_new_from_data (pixels, tamba->colorspace, tamba->has_alpha,
                                tamba->bits_per_sample, tamba->width, tamba->height,
                                tamba->rowstride, free_buffer, nullptr);
}

extern "C" Tamba *tamba_ref (Tamba *tamba)
{
    TAMBA_RETURN_VAL_IF_FAIL (tamba != nullptr, "tamba != NULL", nullptr);
    TAMBA_RETURN_VAL_IF_FAIL (tamba->ref_count > 0, "tamba->ref_count > 0", nullptr);

    tamba->ref_count++;
    return tamba;
}

extern "C" void tamba_unref (Tamba *tamba)
{
    TAMBA_RETURN_IF_FAIL (tamba != nullptr, "tamba != NULL");
    TAMBA_RETURN_IF_FAIL (tamba->ref_count > 0, "tamba->ref_count > 0");

    if (tamba->ref_count > 1) {
        tamba->ref_count--;
        return;
    }
    // The handler receives the record still at count 1: it may keep it or finalize it.
    if (tamba->last_unref_fn)
        tamba->last_unref_fn (tamba, tamba->last_unref_fn_data);
    else
        tamba_finalize (tamba);
}

extern "C" void tamba_set_last_unref_handler (Tamba *tamba, TambaLastUnref last_unref_fn,
                                              gpointer last_unref_fn_data)
{
    TAMBA_RETURN_IF_FAIL (tamba != nullptr, "tamba != NULL");

    tamba->last_unref_fn = last_unref_fn;
    tamba->last_unref_fn_data = last_unref_fn_data;
}

extern "C" void tamba_finalize (Tamba *tamba)
{
    TAMBA_RETURN_IF_FAIL (tamba != nullptr, "tamba != NULL");
    TAMBA_RETURN_IF_FAIL (tamba->ref_count == 1, "tamba->ref_count == 1");

    if (tamba->destroy_fn) tamba->destroy_fn (tamba->pixels, tamba->destroy_fn_data);
    g_free (tamba);
}

extern "C" void tamba_preinit (gpointer, gpointer) {}

extern "C" void tamba_postinit (gpointer, gpointer) {}

extern "C" GdkColorspace tamba_get_colorspace (const Tamba *tamba)
{
    TAMBA_RETURN_VAL_IF_FAIL (tamba != nullptr, "tamba != NULL", GDK_COLORSPACE_RGB);
    return tamba->colorspace;
}

extern "C" int tamba_get_n_channels (const Tamba *tamba)
{
    TAMBA_RETURN_VAL_IF_FAIL (tamba != nullptr, "tamba != NULL", -1);
    return tamba->n_channels;
}

extern "C" gboolean tamba_get_has_alpha (const Tamba *tamba)
{
    TAMBA_RETURN_VAL_IF_FAIL (tamba != nullptr, "tamba != NULL", -1);
    return tamba->has_alpha ? TRUE : FALSE;
}

extern "C" int tamba_get_bits_per_sample (const Tamba *tamba)
{
    TAMBA_RETURN_VAL_IF_FAIL (tamba != nullptr, "tamba != NULL", -1);
    return tamba->bits_per_sample;
}

extern "C" guchar *tamba_get_pixels (const Tamba *tamba)
{
    TAMBA_RETURN_VAL_IF_FAIL (tamba != nullptr, "tamba != NULL", nullptr);
    return tamba->pixels;
}

extern "C" int tamba_get_width (const Tamba *tamba)
{
    TAMBA_RETURN_VAL_IF_FAIL (tamba != nullptr, "tamba != NULL", -1);
    return tamba->width;
}

extern "C" int tamba_get_height (const Tamba *tamba)
{
    TAMBA_RETURN_VAL_IF_FAIL (tamba != nullptr, "tamba != NULL", -1);
    return tamba->height;
}

extern "C" int tamba_get_rowstride (const Tamba *tamba)
{
    TAMBA_RETURN_VAL_IF_FAIL (tamba != nullptr, "tamba != NULL", -1);
    return tamba->rowstride;
}
