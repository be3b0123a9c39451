// SPDX-License-Identifier: LGPL-2.1-or-later
#include <gtest/gtest.h>

#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/byte-joiner.h"
#include "common/module-entry.h"
#include "log-capture.h"
#include "modules.h"

namespace {

using namespace tamba::loader;
using tamba::test::ImagePtr;
using tamba::test::LogCapture;

// What a sink reported, one string per callback.
struct Calls {
    std::vector<std::string> seen;

    static void prepare (Tamba *image, gpointer self)
    {
        static_cast<Calls *> (self)->seen.push_back ("prepare " + std::to_string (image->width));
    }
    static void update (Tamba *, guint x, guint y, guint w, guint h, gpointer self)
    {
        static_cast<Calls *> (self)->seen.push_back ("update " + std::to_string (x) + "," + std::to_string (y) + " "
                                                     + std::to_string (w) + "x" + std::to_string (h));
    }
    ProgressSink sink () { return ProgressSink {prepare, update, nullptr, nullptr, this}; }
};

ImagePtr image_4x10 () { return ImagePtr (tamba_new (GDK_COLORSPACE_RGB, FALSE, 8, 4, 10)); }

struct Rows {
    int y, n;
};
struct SinkCase {
    const char *name;
    std::vector<Rows> rows;
    std::vector<std::string> updates;
};

class SinkMerges : public ::testing::TestWithParam<SinkCase> {};

TEST_P (SinkMerges, OneUpdatePerRunOfAdjacentRows)
{
    const ImagePtr image = image_4x10 ();
    Calls calls;
    ProgressSink sink = calls.sink ();
    for (const Rows &r : GetParam ().rows) sink.rows_done (image.get (), r.y, r.n);
    sink.flush ();
    sink.flush ();  // nothing is reported twice
    EXPECT_EQ (calls.seen, GetParam ().updates);
}

INSTANTIATE_TEST_SUITE_P (
    Rows, SinkMerges,
    ::testing::Values (
        SinkCase {"none", {}, {}},
        SinkCase {"adjacent", {{0, 1}, {1, 1}, {2, 3}}, {"update 0,0 4x5"}},
        SinkCase {"gap", {{0, 2}, {3, 1}, {4, 1}}, {"update 0,0 4x2", "update 0,3 4x2"}},
        SinkCase {"backwards", {{5, 1}, {4, 1}}, {"update 0,5 4x1", "update 0,4 4x1"}},
        SinkCase {"again_after_opaque_pass", {{8, 2}, {0, 10}}, {"update 0,8 4x2", "update 0,0 4x10"}},
        SinkCase {"empty_runs", {{3, 0}, {1, 1}, {2, -1}}, {"update 0,1 4x1"}}),
    [] (const auto &info) { return std::string (info.param.name); });

TEST (Sink, ReportsPendingRowsBeforeTheNextImageAndIgnoresNullCallbacks)
{
    const ImagePtr first = image_4x10 (), second = image_4x10 ();
    Calls calls;
    ProgressSink sink = calls.sink ();
    sink.rows_done (first.get (), 0, 2);
    sink.prepared (second.get ());
    EXPECT_EQ (calls.seen, (std::vector<std::string> {"update 0,0 4x2", "prepare 4"}));

    ProgressSink none;
    none.prepared (first.get ());
    none.rows_done (first.get (), 0, 1);
    none.frame_done (nullptr);
    none.animation_done (nullptr);
    none.flush ();
    EXPECT_FALSE (none.progressive ());
    EXPECT_TRUE (sink.progressive ());
}

struct LimitCase {
    const Format *format;
    std::int64_t width, height;
    bool accepted;
};

class Limits : public ::testing::TestWithParam<LimitCase> {};

TEST_P (Limits, SizeCheckWarnsOnceWithTheFormatName)
{
    const LimitCase &c = GetParam ();
    LogCapture log;
    EXPECT_EQ (check_size (*c.format, c.width, c.height), c.accepted);
    const auto warnings = log.warnings ();
    ASSERT_EQ (warnings.size (), c.accepted ? 0u : 1u);
    EXPECT_TRUE (c.accepted || warnings[0].starts_with (std::string (c.format->name) + ": image size ")) << warnings[0];
}

INSTANTIATE_TEST_SUITE_P (
    Table, Limits,
    ::testing::ValuesIn (std::vector<LimitCase> {
        {&formats::png, 1 << 24, 16, true}, {&formats::png, (1 << 24) + 1, 1, false}, {&formats::jpeg, 16, 1 << 24, true},
        {&formats::tiff, 1 << 14, 1 << 14, true}, {&formats::tiff, 1 << 14, (1 << 14) + 1, false},
        {&formats::bmp, 65535, 4096, true}, {&formats::bmp, 65536, 1, false}, {&formats::gif, 1, 65536, false},
        {&formats::xbm, 0, 5, false}, {&formats::ras, 5, -1, false}}));

TEST (ImageAlloc, FillsAsAskedAndRefusesOversizeWithoutAllocating)
{
    const ImagePtr white (new_image (formats::xbm, false, 3, 2, 255));
    ASSERT_NE (white, nullptr);
    for (int i = 0; i < 3 * 3; ++i) EXPECT_EQ (white->pixels[i], 255);
    LogCapture log;
    EXPECT_EQ (new_image (formats::pnm, true, 70000, 1), nullptr);
    EXPECT_EQ (log.warnings ().size (), 1u);
}

// A format of a 2-byte header (width, height), then rows of `width` grey bytes.
class GreyDecoder final : public ByteJoiner {
public:
    explicit GreyDecoder (const ProgressSink &sink) : ByteJoiner (formats::pnm, sink) {}

protected:
    size_t want () const override { return image_ ? size_t (image_->width) : 2; }
    size_t step (const guchar *data, size_t) override
    {
        if (!image_) return start_image (false, data[0], data[1], false) ? 2 : 0;
        guchar *out = row (row_);
        for (int x = 0; x < image_->width; ++x) out[3 * x] = out[3 * x + 1] = out[3 * x + 2] = data[x];
        rows_done (row_, 1);
        if (++row_ == image_->height) finished ();
        return size_t (image_->width);
    }

private:
    int row_ = 0;
};

std::vector<guchar> grey_file ()
{
    std::vector<guchar> bytes {5, 3};
    for (int i = 0; i < 15; ++i) bytes.push_back (guchar (i * 17));
    bytes.push_back (99);  // past the image: ignored
    return bytes;
}

class JoinerPieces : public ::testing::TestWithParam<size_t> {};

TEST_P (JoinerPieces, EveryPieceSizeGivesTheSamePixelsAndRows)
{
    const auto bytes = grey_file ();
    Calls calls;
    GreyDecoder decoder (calls.sink ());
    for (size_t at = 0; at < bytes.size (); at += GetParam ()) {
        ASSERT_TRUE (decoder.feed (bytes.data () + at, std::min (GetParam (), bytes.size () - at)));
        decoder.sink ().flush ();
    }
    const ImagePtr image (decoder.finish ());
    ASSERT_NE (image, nullptr);
    for (int i = 0; i < 15; ++i)
        EXPECT_EQ (image->pixels[size_t (i / 5) * size_t (image->rowstride) + size_t (i % 5) * 3], guchar (i * 17));
    // Rows in order, none twice, whatever the pieces.
    int next = 0;
    for (const std::string &c : calls.seen) {
        if (c.rfind ("update 0,", 0) != 0) continue;
        int y = 0, w = 0, h = 0;
        ASSERT_EQ (std::sscanf (c.c_str (), "update 0,%d %dx%d", &y, &w, &h), 3);
        EXPECT_EQ (y, next);
        next = y + h;
    }
    EXPECT_EQ (next, 3);
}

INSTANTIATE_TEST_SUITE_P (Sizes, JoinerPieces, ::testing::Values (1, 2, 3, 7, 1000));

TEST (Joiner, TruncatedDataWarnsOnceAtTheEnd)
{
    auto bytes = grey_file ();
    bytes.resize (9);
    LogCapture log;
    GreyDecoder decoder ({});
    EXPECT_TRUE (decoder.feed (bytes.data (), bytes.size ()));
    EXPECT_EQ (decoder.finish (), nullptr);
    EXPECT_EQ (log.warnings (), (std::vector<std::string> {"PNM: premature end of data"}));
}

struct FenceCase {
    const char *name;
    void (*body) ();
    const char *warning;
};

class Fence : public ::testing::TestWithParam<FenceCase> {};

TEST_P (Fence, ExceptionsBecomeTheFailureValueWithOneWarning)
{
    LogCapture log;
    const int got = fence (formats::gif, -1, [] { return GetParam ().body (), 7; });
    const char *warning = GetParam ().warning;
    EXPECT_EQ (got, warning ? -1 : 7);
    EXPECT_EQ (log.warnings (), warning ? std::vector<std::string> {warning} : std::vector<std::string> {});
}

INSTANTIATE_TEST_SUITE_P (
    Throws, Fence,
    ::testing::Values (
        FenceCase {"nothing", [] {}, nullptr},
        FenceCase {"bad_alloc", [] { throw std::bad_alloc (); }, "GIF: not enough memory to load the image"},
        FenceCase {"other", [] { throw std::runtime_error ("x"); },
                   "GIF: internal error while loading the image"}),
    [] (const auto &info) { return std::string (info.param.name); });

}  // namespace
