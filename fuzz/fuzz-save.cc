// SPDX-License-Identifier: LGPL-2.1-or-later
// Saving: an image whose size (1..64 a side), alpha, row padding and JPEG quality come from the
// input's last 6 bytes and whose pixels from the rest is saved in one of the saving formats and
// loaded back. The save must succeed and the file must load at the same size; PNG keeps every
// byte, BMP and PNM the colour. PNM with alpha is written as a PAM (P7), which other programs
// read but the PNM loader, a reader of P1 to P6, refuses; those files are not loaded back, nor
// files shorter than the 20 bytes the format table's PNM test looks at.
#include <glib/gstdio.h>

#include <cstring>
#include <string>

#include "fuzz-input.h"
#include "tamba/tamba.h"

namespace {

constexpr size_t kOptionBytes = 6;
constexpr const char *kFormats[] = {"png", "bmp", "pnm", "jpeg"};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput (const std::uint8_t *data, size_t size)
{
    const tamba::fuzz::FuzzInput input (data, size, kOptionBytes);
    const char *format = kFormats[input.option (0) % 4];
    const int width = 1 + input.option (1) % 64, height = 1 + input.option (2) % 64;
    const bool alpha = input.option (3) & 1;
    const int channels = alpha ? 4 : 3, rowstride = width * channels + input.option (4) % 16;
    const int quality = 1 + input.option (5) % 100;

    auto *pixels = static_cast<guchar *> (g_malloc0 (size_t (rowstride) * size_t (height)));
    const auto &payload = input.payload ();
    for (size_t i = 0; i < size_t (rowstride) * size_t (height) && !payload.empty (); ++i)
        pixels[i] = payload[i % payload.size ()];
    Tamba *image = tamba_new_from_data (pixels, GDK_COLORSPACE_RGB, alpha, 8, width, height,
                                        rowstride, [] (guchar *p, gpointer) { g_free (p); }, nullptr);
    const std::string path = tamba::fuzz::scratch_file ("save");
    if (!tamba_save_with_quality (image, path.c_str (), format, quality))
        tamba::fuzz::fail ("saving a valid image failed");
    GStatBuf st;
    if (std::strcmp (format, "pnm") == 0 && (alpha || g_stat (path.c_str (), &st) != 0 || st.st_size < 20)) {
        tamba_unref (image);
        return 0;
    }
    Tamba *back = tamba_new_from_file (path.c_str ());
    if (!back || back->width != width || back->height != height)
        tamba::fuzz::fail ("a saved image did not load back at its size");
    const bool exact = std::strcmp (format, "png") == 0;
    const bool colour_exact = exact || std::strcmp (format, "jpeg") != 0;
    for (int y = 0; y < height && colour_exact; ++y)
        for (int x = 0; x < width; ++x) {
            const guchar *a = image->pixels + y * image->rowstride + x * channels;
            const guchar *b = back->pixels + y * back->rowstride + x * back->n_channels;
            if (std::memcmp (a, b, 3) != 0 || (exact && alpha && a[3] != b[3]))
                tamba::fuzz::fail ("a saved image loaded back with other pixels");
        }
    tamba_unref (back);
    tamba_unref (image);
    return 0;
}
