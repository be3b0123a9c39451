// SPDX-License-Identifier: LGPL-2.1-or-later
// The corpus run compares most decodes with a listed pixel hash instead of the reference's
// pixels: that must accept exactly what the pixel compare accepts at tolerance 0.
#include <gtest/gtest.h>

#include <cstring>

#include "corpus.h"

using namespace tamba::test;

namespace {

// A 3x2 reference; the last pixel of an RGBA one is transparent.
Pam reference (int depth)
{
    Pam pam {3, 2, depth, {}};
    for (int i = 0; i < 6; ++i) {
        pam.samples.insert (pam.samples.end (), {std::uint8_t (40 * i), 7, std::uint8_t (250 - i)});
        if (depth == 4) pam.samples.push_back (i == 5 ? 0 : 255);
    }
    return pam;
}

// An image holding the reference's pixels, in the given number of channels (opaque when added).
Tamba *image_of (const Pam &pam, int channels)
{
    Tamba *t = tamba_new (GDK_COLORSPACE_RGB, channels == 4, 8, pam.width, pam.height);
    for (int y = 0; y < pam.height; ++y)
        for (int x = 0; x < pam.width; ++x) {
            const std::uint8_t *q = &pam.samples[size_t ((y * pam.width + x) * pam.depth)];
            guchar *p = t->pixels + y * t->rowstride + x * channels;
            std::memcpy (p, q, 3);
            if (channels == 4) p[3] = pam.depth == 4 ? q[3] : 255;
        }
    return t;
}

struct Case {
    const char *name;
    int ref_depth, channels;
    void (*change) (Tamba *);  // applied to the image before comparing
    bool accepted;
};

const Case kCases[] = {
    {"same_rgb", 3, 3, [] (Tamba *) {}, true},
    {"same_rgba", 4, 4, [] (Tamba *) {}, true},
    {"opaque_rgba_for_rgb", 3, 4, [] (Tamba *) {}, true},
    {"one_sample_off", 3, 3, [] (Tamba *t) { t->pixels[t->rowstride + 4]++; }, false},
    {"alpha_254_for_rgb", 3, 4, [] (Tamba *t) { t->pixels[3] = 254; }, false},
    {"alpha_off", 4, 4, [] (Tamba *t) { t->pixels[7] = 128; }, false},
    {"colour_under_zero_alpha", 4, 4, [] (Tamba *t) { t->pixels[t->rowstride + 8] = 99; }, true},
    {"zero_alpha_made_visible", 4, 4, [] (Tamba *t) { t->pixels[t->rowstride + 11] = 1; }, false},
    {"rgb_for_rgba", 4, 3, [] (Tamba *) {}, false},
    {"narrower", 3, 3, [] (Tamba *t) { t->width = 2; }, false},
    {"shorter", 3, 3, [] (Tamba *t) { t->height = 1; }, false},
};

class HashedReference : public ::testing::TestWithParam<Case> {};

TEST_P (HashedReference, AcceptsWhatThePixelCompareAccepts)
{
    const Case &c = GetParam ();
    const Pam pam = reference (c.ref_depth);
    Tamba *image = image_of (pam, c.channels);
    c.change (image);
    const Reference hashed {pam.width, pam.height, pam.depth, std::nullopt, pixel_hash (pam)};
    EXPECT_EQ (compare_with_ref (image, pam).empty (), c.accepted) << compare_with_ref (image, pam);
    EXPECT_EQ (compare_with_ref (image, hashed).empty (), c.accepted)
        << compare_with_ref (image, hashed);
    // Only pixels can be compared within a tolerance.
    EXPECT_NE (compare_with_ref (image, hashed, 1), "");
    tamba_unref (image);
}

INSTANTIATE_TEST_SUITE_P (Cases, HashedReference, ::testing::ValuesIn (kCases),
                          [] (const auto &info) { return std::string (info.param.name); });

}  // namespace
