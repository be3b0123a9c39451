// SPDX-License-Identifier: LGPL-2.1-or-later
// What the demo and the tool tests rely on in each sample: its size, its alpha, that alpha
// really is soft where the sample is meant to show blending, and the GIF's frames.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "tamba/tamba.h"

namespace {

struct Sample {
    const char *file;
    int width, height;
    bool alpha;
    int frames;
    bool soft_alpha;  // some pixels neither transparent nor opaque
};

const Sample kSamples[] = {
    {"photo.jpg", 1600, 1200, false, 1, false},
    {"badge.png", 256, 256, true, 1, true},
    {"bounce.gif", 120, 80, true, 7, false},
    {"flower.xpm", 32, 32, true, 1, false},
    {"bars.bmp", 250, 160, false, 1, false},
    {"tiles.tiff", 200, 150, false, 1, false},
    {"wheel.ppm", 160, 120, false, 1, false},
    {"pattern.xbm", 64, 48, false, 1, false},
    {"disc.ico", 32, 32, true, 1, true},
    {"stripes.ras", 161, 100, false, 1, false},
};

std::string path_of (const char *file) { return std::string (TAMBA_SAMPLES_DIR) + "/" + file; }

// Counts of fully transparent, partly transparent and opaque pixels.
struct AlphaCounts { int clear = 0, partial = 0, opaque = 0; };

AlphaCounts count_alpha (const Tamba *image)
{
    AlphaCounts c;
    const guchar *pixels = tamba_get_pixels (image);
    for (int y = 0; y < tamba_get_height (image); ++y)
        for (int x = 0; x < tamba_get_width (image); ++x) {
            const guchar a = pixels[y * tamba_get_rowstride (image) + x * 4 + 3];
            (a == 0 ? c.clear : a == 255 ? c.opaque : c.partial)++;
        }
    return c;
}

class Samples : public ::testing::TestWithParam<Sample> {};

TEST_P (Samples, LoadsAsDescribed)
{
    const Sample &s = GetParam ();
    Tamba *image = tamba_new_from_file (path_of (s.file).c_str ());
    ASSERT_NE (image, nullptr) << s.file;
    EXPECT_EQ (tamba_get_width (image), s.width);
    EXPECT_EQ (tamba_get_height (image), s.height);
    EXPECT_EQ (bool (tamba_get_has_alpha (image)), s.alpha);
    if (s.alpha) {
        const AlphaCounts c = count_alpha (image);
        EXPECT_GT (c.clear, 0) << "nothing transparent";
        EXPECT_GT (c.opaque, 0) << "nothing opaque";
        EXPECT_EQ (c.partial > 0, s.soft_alpha);
    }
    tamba_unref (image);

    TambaAnimation *animation = tamba_animation_new_from_file (path_of (s.file).c_str ());
    ASSERT_NE (animation, nullptr);
    EXPECT_EQ (tamba_animation_get_num_frames (animation), s.frames);
    tamba_animation_unref (animation);
}

INSTANTIATE_TEST_SUITE_P (Each, Samples, ::testing::ValuesIn (kSamples),
                          [] (const ::testing::TestParamInfo<Sample> &info) {
                              std::string name = info.param.file;
                              for (char &c : name)
                                  if (c == '.') c = '_';
                              return name;
                          });

}  // namespace
