// SPDX-License-Identifier: LGPL-2.1-or-later
#include "feature-support.h"

#include <cstdio>
#include <memory>

#include "log-capture.h"

namespace tamba::test {

Tamba *load_bytes (const Module &module, const Bytes &bytes, std::vector<std::string> *warnings)
{
    std::unique_ptr<FILE, int (*) (FILE *)> f (std::tmpfile (), std::fclose);
    if (!f) return nullptr;
    std::fwrite (bytes.data (), 1, bytes.size (), f.get ());
    std::rewind (f.get ());
    LogCapture log;
    Tamba *image = module.entries ().load (f.get ());
    if (warnings) *warnings = log.warnings ();
    return image;
}

Tamba *load_everywhere (const Module &module, const Bytes &bytes)
{
    std::vector<std::string> warnings;
    Tamba *whole = load_bytes (module, bytes, &warnings);
    EXPECT_NE (whole, nullptr);
    EXPECT_TRUE (warnings.empty ()) << warnings.front ();
    for (size_t piece : {size_t (1), size_t (13), size_t (787), size_t (4096), bytes.size ()}) {
        SCOPED_TRACE ("pieces of " + std::to_string (piece) + " bytes");
        Progressive p = load_in_pieces (module, bytes, piece);
        EXPECT_TRUE (p.increments_ok);
        EXPECT_EQ (p.protocol_error, "");
        EXPECT_EQ (p.prepared, 1);
        EXPECT_TRUE (p.updates_in_bounds);
        EXPECT_EQ (compare_images (p.image, whole), "");
    }
    return whole;
}

void expect_whole_file_failure (const Module &module, const ExpectedFailure &failure)
{
    std::vector<std::string> warnings;
    Tamba *image = load_bytes (module, failure.bytes, &warnings);
    EXPECT_EQ (image, nullptr);
    if (image) tamba_unref (image);
    ASSERT_EQ (warnings.size (), 1u);
    EXPECT_NE (warnings[0].find (failure.warning_part), std::string::npos) << warnings[0];
    EXPECT_EQ (warnings[0].find ('\n'), std::string::npos) << warnings[0];
}

gpointer begin_observed (const Module &module, Observed &observed)
{
    return module.entries ().begin_load (
        [] (Tamba *, gpointer data) { static_cast<Observed *> (data)->prepared++; },
        [] (Tamba *, guint, guint, guint width, guint height, gpointer data) {
            auto *seen = static_cast<Observed *> (data);
            seen->updates++;
            seen->last_width = width;
            seen->last_height = height;
        },
        nullptr, nullptr, &observed);
}

void expect_pixels (const Tamba *image, const std::vector<std::vector<int>> &expected, int width,
                    int height)
{
    ASSERT_NE (image, nullptr);
    ASSERT_EQ (image->width, width);
    ASSERT_EQ (image->height, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            ASSERT_EQ (pixel_at (image, x, y), expected[size_t (y * width + x)])
                << "pixel " << x << "," << y;
}

std::vector<int> pixel_at (const Tamba *image, int x, int y)
{
    const guchar *p = image->pixels + size_t (y) * size_t (image->rowstride)
                      + size_t (x) * size_t (image->n_channels);
    return {p[0], p[1], p[2], image->has_alpha ? p[3] : 255};
}

}  // namespace tamba::test
