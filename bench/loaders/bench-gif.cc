// SPDX-License-Identifier: LGPL-2.1-or-later
// Decode time of generated GIF files: a 2000x2000 still and a 100-frame 500x500 animation,
// through tamba's GIF module (whole-file and in 4096-byte pieces) and through giflib's
// DGifSlurp on the same bytes in memory. Every benchmark reports megapixels per second.
//
// The content is a smooth gradient with sparse noise over a 256-colour palette, so that the
// LZW stream has the mix of long and short strings and the table clears of real files.
#include <benchmark/benchmark.h>
#include <gif_lib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "image-writers.h"
#include "modules.h"

namespace {

using tamba::test::Bytes;
using tamba::test::GifImage;

constexpr int kStillSide = 2000;
constexpr int kFrameSide = 500;
constexpr int kFrames = 100;
constexpr size_t kPieceSize = 4096;

Bytes ramp_palette ()
{
    Bytes table;
    for (int i = 0; i < 256; ++i)
        table.insert (table.end (), {std::uint8_t (i), std::uint8_t ((i * 3 / 4 + 40) & 255),
                                     std::uint8_t (255 - i)});
    return table;
}

// A diagonal gradient shifted by `phase`, with one pixel in four nudged by up to +-2.
GifImage gradient_with_noise (int width, int height, int phase, unsigned seed)
{
    GifImage im;
    im.width = width;
    im.height = height;
    im.min_code_size = 8;
    im.delay = 4;
    im.indices.resize (size_t (width) * size_t (height));
    std::mt19937 rng (seed);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            int v = ((x + phase) * 160 / width + y * 96 / height) & 255;
            const unsigned r = rng ();
            if ((r & 3) == 0) v = std::clamp (v + int ((r >> 2) % 5) - 2, 0, 255);
            im.indices[size_t (y) * size_t (width) + size_t (x)] = std::uint8_t (v);
        }
    return im;
}

struct Workload {
    Bytes file;
    std::int64_t pixels = 0;  // decoded pixels, all frames
};

const Workload &still ()
{
    static const Workload w = [] {
        const GifImage im = gradient_with_noise (kStillSide, kStillSide, 0, 1);
        return Workload {tamba::test::make_gif (kStillSide, kStillSide, ramp_palette (), {im}, true,
                                                tamba::test::FullTable::Clear),
                         std::int64_t (kStillSide) * kStillSide};
    }();
    return w;
}

const Workload &animation ()
{
    static const Workload w = [] {
        std::vector<GifImage> frames;
        for (int f = 0; f < kFrames; ++f)
            frames.push_back (gradient_with_noise (kFrameSide, kFrameSide, f * 5, unsigned (f + 2)));
        return Workload {tamba::test::make_gif (kFrameSide, kFrameSide, ramp_palette (), frames, true,
                                                tamba::test::FullTable::Clear),
                         std::int64_t (kFrameSide) * kFrameSide * kFrames};
    }();
    return w;
}

const tamba::test::Module &gif_module ()
{
    static const tamba::test::Module m (GIF_MODULE, "gif");
    return m;
}

void report_rate (benchmark::State &state, const Workload &w)
{
    state.counters["MP/s"] = benchmark::Counter (double (w.pixels) * double (state.iterations ()) / 1e6,
                                                 benchmark::Counter::kIsRate);
    state.SetBytesProcessed (std::int64_t (w.file.size ()) * state.iterations ());
}

// The module's whole-file entries read a FILE; the bytes are served from memory.
FILE *memory_file (const Bytes &bytes)
{
    return fmemopen (const_cast<std::uint8_t *> (bytes.data ()), bytes.size (), "rb");
}

void tamba_load (benchmark::State &state, const Workload *w)
{
    for (auto _ : state) {
        FILE *f = memory_file (w->file);
        Tamba *image = gif_module ().entries ().load (f);
        std::fclose (f);
        if (!image) {
            state.SkipWithError ("tamba failed to load the GIF");
            break;
        }
        benchmark::DoNotOptimize (image->pixels);
        tamba_unref (image);
    }
    report_rate (state, *w);
}

void tamba_load_animation (benchmark::State &state, const Workload *w)
{
    for (auto _ : state) {
        FILE *f = memory_file (w->file);
        TambaAnimation *a = gif_module ().entries ().load_animation (f);
        std::fclose (f);
        if (!a) {
            state.SkipWithError ("tamba failed to load the animation");
            break;
        }
        benchmark::DoNotOptimize (a->frames);
        tamba::test::free_animation (a);
    }
    report_rate (state, *w);
}

void tamba_pieces (benchmark::State &state, const Workload *w)
{
    for (auto _ : state) {
        tamba::test::Progressive p = tamba::test::load_in_pieces (gif_module (), w->file, kPieceSize);
        if (!p.increments_ok || p.frames.empty ()) {
            state.SkipWithError ("tamba failed a progressive load");
            break;
        }
        benchmark::DoNotOptimize (p.frames.data ());
    }
    report_rate (state, *w);
}

struct MemoryReader {
    const Bytes *bytes;
    size_t offset;
};

int read_memory (GifFileType *gif, GifByteType *out, int n)
{
    auto *r = static_cast<MemoryReader *> (gif->UserData);
    const size_t take = std::min (size_t (n), r->bytes->size () - r->offset);
    std::memcpy (out, r->bytes->data () + r->offset, take);
    r->offset += take;
    return int (take);
}

void giflib_slurp (benchmark::State &state, const Workload *w)
{
    for (auto _ : state) {
        MemoryReader reader {&w->file, 0};
        int error = 0;
        GifFileType *gif = DGifOpen (&reader, read_memory, &error);
        const bool ok = gif && DGifSlurp (gif) == GIF_OK;
        if (ok) benchmark::DoNotOptimize (gif->SavedImages[0].RasterBits);
        if (gif) DGifCloseFile (gif, &error);
        if (!ok) {
            state.SkipWithError ("giflib failed to read the GIF");
            break;
        }
    }
    report_rate (state, *w);
}

// The pixels of a tamba image are the palette entries of giflib's indices for that image.
bool same_pixels (const Tamba *image, const GifFileType *gif, int n)
{
    const SavedImage &saved = gif->SavedImages[n];
    const int width = saved.ImageDesc.Width, height = saved.ImageDesc.Height;
    if (!image || image->width != width || image->height != height) return false;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const GifColorType c = gif->SColorMap->Colors[saved.RasterBits[size_t (y) * size_t (width) + size_t (x)]];
            const guchar *p = image->pixels + size_t (y) * size_t (image->rowstride)
                              + size_t (x) * size_t (image->n_channels);
            if (p[0] != c.Red || p[1] != c.Green || p[2] != c.Blue) return false;
        }
    return true;
}

// Both decoders must read every frame to the same pixels, or the timings mean nothing.
bool decoders_agree (const Workload &w)
{
    FILE *f = memory_file (w.file);
    TambaAnimation *a = gif_module ().entries ().load_animation (f);
    std::fclose (f);
    MemoryReader reader {&w.file, 0};
    int error = 0;
    GifFileType *gif = DGifOpen (&reader, read_memory, &error);
    bool same = a && gif && DGifSlurp (gif) == GIF_OK && gif->ImageCount == a->n_frames;
    int n = 0;
    for (GList *l = same ? a->frames : nullptr; l && same; l = l->next, ++n)
        same = same_pixels (static_cast<TambaFrame *> (l->data)->tamba, gif, n);
    if (gif) DGifCloseFile (gif, &error);
    tamba::test::free_animation (a);
    return same;
}

}  // namespace

int main (int argc, char **argv)
{
    benchmark::Initialize (&argc, argv);
    if (benchmark::ReportUnrecognizedArguments (argc, argv)) return 1;
    if (!gif_module ().ok ()) {
        std::fprintf (stderr, "cannot open %s\n", GIF_MODULE);
        return 1;
    }
    if (!decoders_agree (still ()) || !decoders_agree (animation ())) {
        std::fprintf (stderr, "tamba and giflib decode the files differently\n");
        return 1;
    }
    benchmark::AddCustomContext ("still bytes", std::to_string (still ().file.size ()));
    benchmark::AddCustomContext ("animation bytes", std::to_string (animation ().file.size ()));
    const Workload *s = &still ();
    const Workload *a = &animation ();
    benchmark::RegisterBenchmark ("still_2000x2000/tamba_load", tamba_load, s)->Unit (benchmark::kMillisecond);
    benchmark::RegisterBenchmark ("still_2000x2000/tamba_pieces_4096", tamba_pieces, s)->Unit (benchmark::kMillisecond);
    benchmark::RegisterBenchmark ("still_2000x2000/giflib_slurp", giflib_slurp, s)->Unit (benchmark::kMillisecond);
    benchmark::RegisterBenchmark ("anim_100x500x500/tamba_load_animation", tamba_load_animation, a)->Unit (benchmark::kMillisecond);
    benchmark::RegisterBenchmark ("anim_100x500x500/tamba_pieces_4096", tamba_pieces, a)->Unit (benchmark::kMillisecond);
    benchmark::RegisterBenchmark ("anim_100x500x500/giflib_slurp", giflib_slurp, a)->Unit (benchmark::kMillisecond);
    benchmark::RunSpecifiedBenchmarks ();
    benchmark::Shutdown ();
    return 0;
}
