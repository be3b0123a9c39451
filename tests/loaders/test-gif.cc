// SPDX-License-Identifier: LGPL-2.1-or-later
// GIF module on files written here: frame records, the LZW decoder's bounds and damaged data.
#include <random>

#include "format-test.h"

namespace tamba::test {
namespace {

// Red, green, blue, white: no entry is the zero fill of rows the data never reached.
const Bytes kTable = {255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255};

GifImage noise (int width, int height, int colours, unsigned seed)
{
    GifImage im;
    im.width = width, im.height = height;
    std::mt19937 rng (seed);
    for (int i = 0; i < width * height; ++i) im.indices.push_back (std::uint8_t (rng () % unsigned (colours)));
    return im;
}

// Rows of the image that hold their indices' colours (opaque) before the first that does not.
int decoded_rows (const Tamba *t, const Bytes &indices, const Bytes &table = kTable)
{
    for (int y = 0; y < t->height; ++y)
        for (int x = 0; x < t->width; ++x) {
            const size_t i = indices[size_t (y * t->width + x)] * 3u;
            if (rgba_at (t, x, y) != std::vector<int> {table[i], table[i + 1], table[i + 2], 255}) return y;
        }
    return t->height;
}

// Offsets, delays (hundredths of a second, as stored) and actions reach the frame records, and
// a transparent index gives alpha to its frame only.
TEST (Gif, FramesKeepOffsetsDelaysAndActions)
{
    std::vector<GifImage> images = {noise (8, 6, 4, 1), noise (3, 4, 4, 2), noise (3, 1, 2, 3), noise (1, 1, 4, 4)};
    const int x[] = {0, 2, 5, 1}, y[] = {0, 1, 5, 1}, delay[] = {7, 65535, 0, 2}, disposal[] = {0, 2, 3, 1};
    const TambaFrameAction action[] = {TAMBA_FRAME_RETAIN, TAMBA_FRAME_DISPOSE, TAMBA_FRAME_REVERT, TAMBA_FRAME_RETAIN};
    for (size_t i = 0; i < 4; ++i)
        images[i].x = x[i], images[i].y = y[i], images[i].delay = delay[i], images[i].disposal = disposal[i];
    images[1].transparent = 1;
    images[1].interlaced = true;
    images[2].local_table = {10, 20, 30, 40, 50, 60};
    TambaAnimation *a = module_for ("gif").load_animation_bytes (make_gif (8, 6, kTable, images));
    ASSERT_NE (a, nullptr);
    EXPECT_EQ (a->ref_count, 1);
    EXPECT_EQ (a->width, 8);
    ASSERT_EQ (a->n_frames, 4);
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE ("frame " + std::to_string (i));
        const auto *f = static_cast<const TambaFrame *> (g_list_nth_data (a->frames, guint (i)));
        EXPECT_EQ (f->x_offset, x[i]);
        EXPECT_EQ (f->y_offset, y[i]);
        EXPECT_EQ (f->delay_time, delay[i]);
        EXPECT_EQ (f->action, action[i]);
        EXPECT_EQ (f->tamba->width, images[size_t (i)].width);
        EXPECT_EQ (bool (f->tamba->has_alpha), i == 1);
        if (i != 1) {
            EXPECT_EQ (decoded_rows (f->tamba, images[size_t (i)].indices, i == 2 ? images[2].local_table : kTable),
                       images[size_t (i)].height);
        }
    }
    free_animation (a);
}

// Data cut inside the first image: the rows decoded so far are kept and the rest is blank; no
// frame is handed over progressively, but the partial image stays with the loader.
TEST (Gif, TruncatedDataKeepsWhatWasDecoded)
{
    const GifImage im = noise (40, 40, 4, 7);
    const Bytes file = make_gif (40, 40, kTable, {im, im});
    const Bytes cut (file.begin (), file.begin () + 13 + 12 + 8 + 10 + 1 + 150);
    LogCapture log;
    const ImagePtr t (module_for ("gif").load_bytes (cut));
    ASSERT_NE (t, nullptr);
    const int rows = decoded_rows (t.get (), im.indices);
    EXPECT_GT (rows, 2);
    EXPECT_LT (rows, 39);
    EXPECT_EQ (rgba_at (t.get (), 39, 39), (std::vector<int> {0, 0, 0, 255}));
    for (size_t piece : kPieceSizes) {
        const auto p = load_in_pieces (module_for ("gif"), cut, piece);
        EXPECT_TRUE (p.increments_ok);
        EXPECT_TRUE (p.frames.empty ());
        ASSERT_NE (p.image, nullptr);
        EXPECT_EQ (decoded_rows (p.image, im.indices), rows) << "pieces of " << piece;
    }
    EXPECT_TRUE (log.warnings ().empty ());
}

// Codes of width 3 (minimum code size 2): clear 4, end 5, first free entry 6. A bad code ends
// the image data with one warning; what came before it stays.
TEST (Gif, InvalidLzwCodesEndTheImageData)
{
    const struct {
        std::vector<int> codes;
        int good_pixels;
    } cases[] = {{{4, 1, 7, 1, 1, 5}, 1}, {{4, 6, 1, 5}, 0}, {{4, 1, 4, 6, 5}, 1}};
    for (const auto &c : cases) {
        CodeWriter w;
        for (int code : c.codes) w.put (code, 3);
        GifImage im;
        im.width = 4, im.indices = {1, 1, 1, 1}, im.raw_data = w.blocks ();
        LogCapture log;
        const ImagePtr t (module_for ("gif").load_bytes (make_gif (4, 1, kTable, {im})));
        ASSERT_NE (t, nullptr);
        EXPECT_EQ (decoded_rows (t.get (), im.indices), 0);
        for (int x = 0; x < 4; ++x)
            EXPECT_EQ (rgba_at (t.get (), x, 0), x < c.good_pixels ? (std::vector<int> {0, 255, 0, 255})
                                                                  : (std::vector<int> {0, 0, 0, 255}));
        EXPECT_EQ (log.warnings ().size (), 1u);
        EXPECT_TRUE (log.warned ("invalid LZW code"));
    }
}

Bytes with_code_size (int size)
{
    GifImage im;
    im.min_code_size = size;
    im.raw_data = {1, 0, 0};
    return make_gif (1, 1, kTable, {im});
}

Bytes with_version (char c)
{
    Bytes b = make_gif (2, 2, kTable, {noise (2, 2, 4, 1)});
    b[4] = std::uint8_t (c);
    return b;
}

INSTANTIATE_TEST_SUITE_P (
    Gif, Refused,
    ::testing::Values (
        Refusal {"code_size_0", "gif", with_code_size (0), "LZW minimum code size is outside 2..8"},
        Refusal {"code_size_9", "gif", with_code_size (9), "LZW minimum code size is outside 2..8"},
        Refusal {"unknown_version", "gif", with_version ('8'), "not a GIF87a or GIF89a file"},
        Refusal {"screen_over_2_28_pixels", "gif", make_gif (65535, 65535, kTable, {noise (2, 2, 4, 1)}),
                 "logical screen is too large"},
        Refusal {"header_only", "gif", [] {
                     Bytes b = with_version ('7');
                     b.resize (13);
                     return b;
                 }(),
                 "the data holds no image"},
        Refusal {"no_image_before_the_trailer", "gif", make_gif (2, 2, kTable, {}), "the data holds no image"}),
    refusal_name);

}  // namespace
}  // namespace tamba::test
