// SPDX-License-Identifier: LGPL-2.1-or-later
// What the demo relies on in each sample: its size, its alpha, that alpha really is soft where
// the sample is meant to show blending, and the GIF's frames.
#include <gtest/gtest.h>

#include <string>

#include "tamba/tamba.h"

namespace {

// soft_alpha: some pixels are neither transparent nor opaque.
struct Sample { const char *file; int width, height; bool alpha; int frames; bool soft_alpha; };

class Samples : public ::testing::TestWithParam<Sample> {};

TEST_P (Samples, LoadsAsDescribed)
{
    const Sample &s = GetParam ();
    const std::string path = std::string (TAMBA_SAMPLES_DIR) + "/" + s.file;
    Tamba *image = tamba_new_from_file (path.c_str ());
    ASSERT_NE (image, nullptr);
    EXPECT_EQ (tamba_get_width (image), s.width);
    EXPECT_EQ (tamba_get_height (image), s.height);
    ASSERT_EQ (bool (tamba_get_has_alpha (image)), s.alpha);
    int counts[3] = {};  // transparent, partly transparent and opaque pixels
    for (int y = 0; s.alpha && y < s.height; ++y)
        for (int x = 0; x < s.width; ++x) {
            const guchar a = tamba_get_pixels (image)[y * tamba_get_rowstride (image) + x * 4 + 3];
            counts[a == 0 ? 0 : a == 255 ? 2 : 1]++;
        }
    EXPECT_EQ (counts[0] > 0, s.alpha) << "something transparent";
    EXPECT_EQ (counts[2] > 0, s.alpha) << "something opaque";
    EXPECT_EQ (counts[1] > 0, s.soft_alpha);
    tamba_unref (image);
    TambaAnimation *animation = tamba_animation_new_from_file (path.c_str ());
    ASSERT_NE (animation, nullptr);
    EXPECT_EQ (tamba_animation_get_num_frames (animation), s.frames);
    tamba_animation_unref (animation);
}

INSTANTIATE_TEST_SUITE_P (Each, Samples,
                          ::testing::Values (Sample {"photo.jpg", 1600, 1200, false, 1, false},
                                             Sample {"badge.png", 256, 256, true, 1, true},
                                             Sample {"bounce.gif", 120, 80, true, 7, false},
                                             Sample {"flower.xpm", 32, 32, true, 1, false},
                                             Sample {"bars.bmp", 250, 160, false, 1, false},
                                             Sample {"tiles.tiff", 200, 150, false, 1, false},
                                             Sample {"wheel.ppm", 160, 120, false, 1, false},
                                             Sample {"pattern.xbm", 64, 48, false, 1, false},
                                             Sample {"disc.ico", 32, 32, true, 1, true},
                                             Sample {"stripes.ras", 161, 100, false, 1, false}),
                          [] (const auto &info) {
                              std::string name = info.param.file;
                              name[name.find ('.')] = '_';
                              return name;
                          });

}  // namespace
