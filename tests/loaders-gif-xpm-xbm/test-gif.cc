// SPDX-License-Identifier: LGPL-2.1-or-later
// GIF module features on files the tests write: animation frames and their records,
// transparency, interlacing, clipping, truncated and damaged data, and the LZW bounds.
#include <gtest/gtest.h>

#include <random>

#include "gif-writer.h"
#include "log-capture.h"
#include "module-paths.h"

namespace tamba::test {
namespace {

// Black, white, red, green.
const Bytes kTable4 = {0, 0, 0, 255, 255, 255, 255, 0, 0, 0, 255, 0};

Bytes pattern (int width, int height, int colours)
{
    Bytes out;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) out.push_back (std::uint8_t ((x + 3 * y) % colours));
    return out;
}

// Each pixel of the image is its palette entry (alpha 0 for the transparent index).
void expect_indices (const Tamba *t, const Bytes &indices, int stride, const Bytes &table,
                     int transparent = -1)
{
    ASSERT_NE (t, nullptr);
    for (int y = 0; y < t->height; ++y)
        for (int x = 0; x < t->width; ++x) {
            const int i = indices[size_t (y * stride + x)];
            const Rgba want =
                i == transparent ? Rgba {0, 0, 0, 0}
                                 : Rgba {table[size_t (i * 3)], table[size_t (i * 3 + 1)],
                                                       table[size_t (i * 3 + 2)], 255};
            ASSERT_EQ (rgba_at (t, x, y), want) << "pixel " << x << "," << y;
        }
}

const TambaFrame *frame_at (const TambaAnimation *a, int n)
{
    return static_cast<const TambaFrame *> (g_list_nth_data (a->frames, guint (n)));
}

std::vector<GifImage> three_frames ()
{
    GifImage a;
    a.width = 8, a.height = 6, a.indices = pattern (8, 6, 4), a.delay = 7, a.disposal = 0;
    GifImage b;
    b.x = 2, b.y = 1, b.width = 3, b.height = 4, b.indices = pattern (3, 4, 2), b.delay = 65535;
    b.disposal = 2, b.transparent = 1, b.interlaced = true;
    GifImage c;
    c.x = 5, c.y = 5, c.width = 3, c.height = 1, c.indices = {0, 1, 0}, c.delay = 0;
    c.disposal = 3, c.local_table = {10, 20, 30, 40, 50, 60};
    GifImage d;
    d.x = 1, d.y = 1, d.width = 1, d.height = 1, d.indices = {3}, d.disposal = 1, d.delay = 2;
    return {a, b, c, d};
}

TEST (GifModule, AnimationFramesKeepOffsetsDelaysAndActions)
{
    const auto images = three_frames ();
    const Bytes file = make_gif (8, 6, kTable4, images);
    TambaAnimation *a = load_animation_bytes (gif_module (), file);
    ASSERT_NE (a, nullptr);
    EXPECT_EQ (a->ref_count, 1);
    EXPECT_EQ (a->width, 8);
    EXPECT_EQ (a->height, 6);
    ASSERT_EQ (a->n_frames, 4);
    const TambaFrameAction actions[4] = {TAMBA_FRAME_RETAIN, TAMBA_FRAME_DISPOSE,
                                         TAMBA_FRAME_REVERT, TAMBA_FRAME_RETAIN};
    for (int i = 0; i < 4; ++i) {
        const TambaFrame *f = frame_at (a, i);
        const GifImage &im = images[size_t (i)];
        EXPECT_EQ (f->x_offset, im.x);
        EXPECT_EQ (f->y_offset, im.y);
        EXPECT_EQ (f->delay_time, im.delay) << "delays are hundredths of a second, unchanged";
        EXPECT_EQ (f->action, actions[i]);
        EXPECT_EQ (f->tamba->width, im.width);
        EXPECT_EQ (f->tamba->height, im.height);
        EXPECT_EQ (bool (f->tamba->has_alpha), im.transparent >= 0);
        expect_indices (f->tamba, im.indices, im.width,
                        im.local_table.empty () ? kTable4 : im.local_table, im.transparent);
    }

    for (size_t piece : kPieceSizes) {
        Progressive p = load_in_pieces (gif_module (), file, piece ? piece : file.size ());
        EXPECT_TRUE (p.increments_ok);
        EXPECT_EQ (p.protocol_error, "");
        EXPECT_EQ (p.prepared, 4);
        EXPECT_EQ (p.animation_done, 1);
        EXPECT_TRUE (p.updates_in_bounds);
        ASSERT_EQ (p.frames.size (), 4u) << "piece " << piece;
        for (int i = 0; i < 4; ++i) {
            EXPECT_EQ (p.frames[size_t (i)]->delay_time, frame_at (a, i)->delay_time);
            EXPECT_EQ (p.frames[size_t (i)]->action, frame_at (a, i)->action);
            EXPECT_EQ (compare_images (p.frames[size_t (i)]->tamba, frame_at (a, i)->tamba), "");
            // The frame record holds the only reference left besides the harness's.
            EXPECT_EQ (p.frames[size_t (i)]->tamba->ref_count, 1);
        }
    }
    free_animation (a);
}

TEST (GifModule, LoadComposesTheFirstFrameOnTheScreen)
{
    GifImage im;
    im.x = 2, im.y = 1, im.width = 3, im.height = 2, im.indices = {1, 2, 3, 3, 2, 1};
    Tamba *t = load_bytes (gif_module (), make_gif (6, 4, kTable4, {im}));
    ASSERT_NE (t, nullptr);
    EXPECT_EQ (t->width, 6);
    EXPECT_EQ (t->height, 4);
    ASSERT_TRUE (t->has_alpha);
    EXPECT_EQ (rgba_at (t, 0, 0), (Rgba {0, 0, 0, 0}));
    EXPECT_EQ (rgba_at (t, 2, 1), (Rgba {255, 255, 255, 255}));
    EXPECT_EQ (rgba_at (t, 4, 2), (Rgba {255, 255, 255, 255}));
    EXPECT_EQ (rgba_at (t, 5, 3), (Rgba {0, 0, 0, 0}));
    tamba_unref (t);

    // A frame that covers the screen comes back as it is, without alpha.
    GifImage full;
    full.width = 6, full.height = 4, full.indices = pattern (6, 4, 4);
    t = load_bytes (gif_module (), make_gif (6, 4, kTable4, {full, im}));
    EXPECT_FALSE (t->has_alpha);
    expect_indices (t, full.indices, 6, kTable4);
    tamba_unref (t);
}

TEST (GifModule, InterlacedRowsLandInDisplayOrder)
{
    for (int height : {1, 2, 3, 5, 8, 9, 17}) {
        GifImage plain;
        plain.width = 3, plain.height = height, plain.indices = pattern (3, height, 4);
        GifImage interlaced = plain;
        interlaced.interlaced = true;
        Tamba *a = load_bytes (gif_module (), make_gif (3, height, kTable4, {plain}));
        Tamba *b = load_bytes (gif_module (), make_gif (3, height, kTable4, {interlaced}));
        expect_indices (b, plain.indices, 3, kTable4);
        EXPECT_EQ (compare_images (a, b), "") << "height " << height;
        tamba_unref (a);
        tamba_unref (b);
    }
}

TEST (GifModule, AlphaOnlyWithATransparentIndexForThatImage)
{
    GifImage first;
    first.width = 4, first.height = 2, first.indices = pattern (4, 2, 4), first.transparent = 2;
    GifImage second = first;
    second.transparent = -1;
    GifImage third = first;
    third.control = false;
    TambaAnimation *a = load_animation_bytes (gif_module (), make_gif (4, 2, kTable4, {first, second, third}));
    ASSERT_NE (a, nullptr);
    ASSERT_EQ (a->n_frames, 3);
    EXPECT_TRUE (frame_at (a, 0)->tamba->has_alpha);
    expect_indices (frame_at (a, 0)->tamba, first.indices, 4, kTable4, 2);
    EXPECT_FALSE (frame_at (a, 1)->tamba->has_alpha);
    EXPECT_FALSE (frame_at (a, 2)->tamba->has_alpha) << "a control extension applies once";
    EXPECT_EQ (frame_at (a, 2)->delay_time, 0);
    free_animation (a);
}

TEST (GifModule, IndicesBeyondTheTableAreOpaqueBlack)
{
    GifImage im;
    im.width = 4, im.height = 1, im.indices = {0, 1, 2, 3};
    const Bytes two = {255, 255, 255, 0, 0, 255};
    Tamba *t = load_bytes (gif_module (), make_gif (4, 1, two, {im}));
    ASSERT_NE (t, nullptr);
    EXPECT_EQ (rgba_at (t, 1, 0), (Rgba {0, 0, 255, 255}));
    EXPECT_EQ (rgba_at (t, 2, 0), (Rgba {0, 0, 0, 255}));
    EXPECT_EQ (rgba_at (t, 3, 0), (Rgba {0, 0, 0, 255}));
    tamba_unref (t);
}

TEST (GifModule, FramesAreClippedToTheScreen)
{
    GifImage base;
    base.width = 10, base.height = 10, base.indices = pattern (10, 10, 4);
    GifImage overlap;
    overlap.x = 7, overlap.y = 8, overlap.width = 5, overlap.height = 4;
    overlap.indices = pattern (5, 4, 4);
    GifImage outside;
    outside.x = 10, outside.width = 2, outside.height = 2, outside.indices = {1, 1, 1, 1};
    TambaAnimation *a =
        load_animation_bytes (gif_module (), make_gif (10, 10, kTable4, {base, overlap, outside}));
    ASSERT_NE (a, nullptr);
    ASSERT_EQ (a->n_frames, 2) << "a frame wholly off the screen is dropped";
    const TambaFrame *f = frame_at (a, 1);
    EXPECT_EQ (f->x_offset, 7);
    EXPECT_EQ (f->y_offset, 8);
    EXPECT_EQ (f->tamba->width, 3);
    EXPECT_EQ (f->tamba->height, 2);
    expect_indices (f->tamba, overlap.indices, 5, kTable4);
    free_animation (a);

    // A screen of size 0 takes the size of the first image.
    Tamba *t = load_bytes (gif_module (), make_gif (0, 0, kTable4, {base}));
    ASSERT_NE (t, nullptr);
    EXPECT_EQ (t->width, 10);
    tamba_unref (t);
}

// Red, green, blue, white: no entry is the zero fill of rows the data never reached.
const Bytes kVivid = {255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255};

// Rows 0..n-1 hold their indices and the last row is still blank; returns n.
int decoded_rows (const Tamba *t, const Bytes &indices)
{
    int rows = 0;
    for (int y = 0; y < t->height; ++y) {
        bool all = true;
        for (int x = 0; x < t->width && all; ++x) {
            const int i = indices[size_t (y * t->width + x)];
            all = rgba_at (t, x, y) == Rgba {kVivid[size_t (i * 3)], kVivid[size_t (i * 3 + 1)],
                                                          kVivid[size_t (i * 3 + 2)], 255};
        }
        if (!all) break;
        rows = y + 1;
    }
    EXPECT_EQ (rgba_at (t, t->width - 1, t->height - 1), (Rgba {0, 0, 0, 255}));
    return rows;
}

GifImage noise (int width, int height, int colours, unsigned seed)
{
    GifImage im;
    im.width = width, im.height = height;
    std::mt19937 rng (seed);
    for (int i = 0; i < width * height; ++i) im.indices.push_back (std::uint8_t (rng () % unsigned (colours)));
    return im;
}

TEST (GifModule, TruncatedDataKeepsWhatWasDecoded)
{
    const GifImage im = noise (40, 40, 4, 7);
    const Bytes file = make_gif (40, 40, kVivid, {im, im});
    const size_t header = 13 + 12 + 8 + 10 + 1;  // up to the first data sub-block
    const Bytes cut (file.begin (), file.begin () + long (header + 150));
    LogCapture log;
    Tamba *t = load_bytes (gif_module (), cut);
    ASSERT_NE (t, nullptr);
    const int rows = decoded_rows (t, im.indices);
    EXPECT_GT (rows, 2);
    EXPECT_LT (rows, 39);
    tamba_unref (t);

    TambaAnimation *a = load_animation_bytes (gif_module (), cut);
    ASSERT_NE (a, nullptr);
    EXPECT_EQ (a->n_frames, 1);
    free_animation (a);

    // Progressively the partial image stays with the loader: prepared, updated, never done.
    for (size_t piece : kPieceSizes) {
        Progressive p = load_in_pieces (gif_module (), cut, piece ? piece : cut.size ());
        EXPECT_TRUE (p.increments_ok);
        EXPECT_EQ (p.prepared, 1);
        EXPECT_TRUE (p.frames.empty ());
        ASSERT_NE (p.image, nullptr);
        EXPECT_EQ (decoded_rows (p.image, im.indices), rows) << "piece " << piece;
    }
    EXPECT_TRUE (log.warnings ().empty ());
}

TEST (GifModule, FullLzwTableDecodesWithAndWithoutClear)
{
    // 256 colours of noise fill all 4096 codes long before the end; the encoder either keeps
    // the full table or clears it, each time the table fills.
    Bytes table;
    for (int i = 0; i < 256; ++i) table.insert (table.end (), {std::uint8_t (i), std::uint8_t (255 - i), std::uint8_t (i / 2)});
    GifImage im = noise (150, 120, 256, 11);
    im.min_code_size = 8;
    for (FullTable full : {FullTable::Keep, FullTable::Clear}) {
        const Bytes file = make_gif (150, 120, table, {im}, true, full);
        for (size_t piece : kPieceSizes) {
            Progressive p = load_in_pieces (gif_module (), file, piece ? piece : file.size ());
            ASSERT_EQ (p.frames.size (), 1u);
            expect_indices (p.frames[0]->tamba, im.indices, 150, table);
        }
    }
}

TEST (GifModule, LzwCodeSizeOutsideTwoToEightFails)
{
    for (int size : {0, 1, 9, 12}) {
        GifImage im;
        im.indices = {1};
        im.min_code_size = size;
        im.raw_data = {1, 0, 0};
        LogCapture log;
        EXPECT_EQ (load_bytes (gif_module (), make_gif (1, 1, kVivid, {im})), nullptr);
        EXPECT_EQ (log.warnings (), (std::vector<std::string> {
                                        "GIF: LZW minimum code size is outside 2..8",
                                        "GIF: the data holds no image"}));
    }
}

// Codes of width 3 (minimum code size 2): clear 4, end 5, first free entry 6.
TEST (GifModule, InvalidLzwCodesEndTheImageData)
{
    struct Case {
        const char *name;
        std::vector<int> codes;
        int good_pixels;
    };
    const Case cases[] = {
        {"code above the next free entry", {4, 1, 7, 1, 1, 5}, 1},
        {"next free entry with no previous code", {4, 6, 1, 5}, 0},
        {"next free entry right after a clear", {4, 1, 4, 6, 5}, 1},
    };
    for (const Case &c : cases) {
        CodeWriter w;
        for (int code : c.codes) w.put (code, 3);
        GifImage im;
        im.width = 4, im.indices = {1, 2, 1, 1};
        im.raw_data = w.blocks ();
        LogCapture log;
        Tamba *t = load_bytes (gif_module (), make_gif (4, 1, kVivid, {im}));
        ASSERT_NE (t, nullptr) << c.name;
        for (int x = 0; x < 4; ++x) {
            const bool good = x < c.good_pixels;
            const int i = im.indices[size_t (x)];
            const Rgba want = good ? Rgba {kVivid[size_t (i * 3)], kVivid[size_t (i * 3 + 1)], kVivid[size_t (i * 3 + 2)], 255}
                                                 : Rgba {0, 0, 0, 255};
            EXPECT_EQ (rgba_at (t, x, 0), want) << c.name << ", pixel " << x;
        }
        EXPECT_EQ (log.warnings (), (std::vector<std::string> {
                                        "GIF: invalid LZW code; the rest of the image is left blank"}))
            << c.name;
        tamba_unref (t);
    }
}

TEST (GifModule, DamagedStreamKeepsEarlierFrames)
{
    const GifImage im = noise (5, 5, 4, 3);
    Bytes file = make_gif (5, 5, kVivid, {im, im}, false);
    file.push_back (0x99);  // not a block type
    LogCapture log;
    Tamba *t = load_bytes (gif_module (), file);
    expect_indices (t, im.indices, 5, kVivid);
    tamba_unref (t);
    TambaAnimation *a = load_animation_bytes (gif_module (), file);
    ASSERT_NE (a, nullptr);
    EXPECT_EQ (a->n_frames, 2);
    free_animation (a);
    Progressive p = load_in_pieces (gif_module (), file, 13);
    EXPECT_FALSE (p.increments_ok);
    EXPECT_EQ (p.frames.size (), 2u);
    EXPECT_EQ (p.animation_done, 0);
}

TEST (GifModule, RefusedHeaders)
{
    const GifImage im = noise (2, 2, 4, 1);
    Bytes gif87 = make_gif (2, 2, kVivid, {im});
    gif87[4] = '7';
    Tamba *t = load_bytes (gif_module (), gif87);
    EXPECT_NE (t, nullptr) << "GIF87a is read too";
    if (t) tamba_unref (t);

    struct Case {
        const char *name;
        Bytes file;
        const char *warning;
    };
    Bytes bad_version = gif87;
    bad_version[4] = '8';
    const Case cases[] = {
        {"unknown version", bad_version, "GIF: not a GIF87a or GIF89a file"},
        {"screen over 2^28 pixels", make_gif (65535, 65535, kVivid, {im}), "GIF: logical screen is too large"},
        {"header only", Bytes (gif87.begin (), gif87.begin () + 13), "GIF: the data holds no image"},
        {"no image before the trailer", make_gif (2, 2, kVivid, {}), "GIF: the data holds no image"},
    };
    for (const Case &c : cases) {
        LogCapture log;
        EXPECT_EQ (load_bytes (gif_module (), c.file), nullptr) << c.name;
        ASSERT_FALSE (log.warnings ().empty ()) << c.name;
        EXPECT_EQ (log.warnings ()[0], c.warning) << c.name;
    }
}

}  // namespace
}  // namespace tamba::test
