// SPDX-License-Identifier: LGPL-2.1-or-later
// Decode throughput of a 4000 x 3000 24-bit BMP, binary PPM and 24-bit Sun raster (standard,
// blue first, and the RGB type), whole-file from a cached temporary file and progressively
// from memory in 64 KiB pieces, against memcpy of the same 36 MB of pixel bytes. Throughput
// counts output pixel bytes, so the rows are comparable.
#include <benchmark/benchmark.h>
#include <gmodule.h>
#include <malloc.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "tamba/tamba.h"

namespace {

constexpr int kWidth = 4000, kHeight = 3000;
constexpr size_t kPixelBytes = size_t (kWidth) * kHeight * 3;

using Bytes = std::vector<unsigned char>;

void put_le (Bytes &b, unsigned v, int n)
{
    for (int i = 0; i < n; ++i) b.push_back (static_cast<unsigned char> (v >> (8 * i)));
}
void put_be (Bytes &b, unsigned v, int n)
{
    for (int i = n - 1; i >= 0; --i) b.push_back (static_cast<unsigned char> (v >> (8 * i)));
}

unsigned char sample (int x, int y, int c) { return static_cast<unsigned char> (x * 3 + y * 5 + c * 71); }

// Rows of 3-byte pixels, each row padded to `align`, in the given channel order and row order.
void put_pixels (Bytes &b, bool bgr, bool bottom_up, size_t align)
{
    const size_t row = size_t (kWidth) * 3, stride = (row + align - 1) / align * align;
    for (int r = 0; r < kHeight; ++r) {
        const int y = bottom_up ? kHeight - 1 - r : r;
        for (int x = 0; x < kWidth; ++x)
            for (int c = 0; c < 3; ++c) b.push_back (sample (x, y, bgr ? 2 - c : c));
        b.resize (b.size () + stride - row, 0);
    }
}

Bytes make_bmp ()
{
    Bytes b {'B', 'M'};
    const unsigned data = unsigned ((kWidth * 3 + 3) / 4 * 4 * kHeight);
    put_le (b, 54 + data, 4);
    put_le (b, 0, 4);
    put_le (b, 54, 4);
    put_le (b, 40, 4);
    put_le (b, kWidth, 4);
    put_le (b, kHeight, 4);
    put_le (b, 1, 2);
    put_le (b, 24, 2);
    b.resize (54, 0);
    put_pixels (b, true, true, 4);
    return b;
}

Bytes make_ppm ()
{
    const std::string header = "P6\n" + std::to_string (kWidth) + " " + std::to_string (kHeight) + "\n255\n";
    Bytes b (header.begin (), header.end ());
    put_pixels (b, false, false, 1);
    return b;
}

Bytes make_ras (unsigned type)
{
    Bytes b;
    for (unsigned v : {0x59a66a95u, unsigned (kWidth), unsigned (kHeight), 24u, unsigned (kPixelBytes), type, 0u, 0u})
        put_be (b, v, 4);
    put_pixels (b, type != 3, false, 2);
    return b;
}

struct Loader {
    Tamba *(*load) (FILE *) = nullptr;
    gpointer (*begin) (TambaPrepareFunc, TambaUpdateFunc, TambaFrameDoneFunc, TambaAnimationDoneFunc,
                       gpointer) = nullptr;
    void (*stop) (gpointer) = nullptr;
    gboolean (*increment) (gpointer, const guchar *, guint) = nullptr;
};

Loader open_loader (const std::string &name)
{
    Loader l;
    const std::string path = std::string (TAMBA_LOADER_DIR) + "/libtambaloader-" + name + ".so";
    GModule *m = g_module_open (path.c_str (), G_MODULE_BIND_LAZY);
    if (!m) return l;
    auto sym = [&] (const char *entry, auto &field) {
        gpointer p = nullptr;
        g_module_symbol (m, ("tamba__" + name + "_" + entry).c_str (), &p);
        field = reinterpret_cast<std::remove_reference_t<decltype (field)>> (p);
    };
    sym ("image_load", l.load);
    sym ("image_begin_load", l.begin);
    sym ("image_stop_load", l.stop);
    sym ("image_load_increment", l.increment);
    return l;
}

struct Fixture {
    std::string format;
    Bytes bytes;
    FILE *file = nullptr;
};

Fixture &fixture (const std::string &which)
{
    static Fixture bmp {"bmp", make_bmp ()}, ppm {"pnm", make_ppm ()}, ras {"ras", make_ras (1)},
        ras_rgb {"ras", make_ras (3)};
    Fixture &f = which == "bmp" ? bmp : which == "ppm" ? ppm : which == "ras" ? ras : ras_rgb;
    if (!f.file) {
        f.file = std::tmpfile ();
        std::fwrite (f.bytes.data (), 1, f.bytes.size (), f.file);
    }
    return f;
}

void BM_memcpy (benchmark::State &state)
{
    std::unique_ptr<unsigned char[]> src (new unsigned char[kPixelBytes]), dst (new unsigned char[kPixelBytes]);
    std::memset (src.get (), 7, kPixelBytes);
    std::memset (dst.get (), 0, kPixelBytes);
    for (auto _ : state) {
        std::memcpy (dst.get (), src.get (), kPixelBytes);
        benchmark::DoNotOptimize (dst.get ());
        benchmark::ClobberMemory ();
    }
    state.SetBytesProcessed (int64_t (state.iterations ()) * int64_t (kPixelBytes));
}

// The same copy into a buffer allocated for each run, as a decoder's new image is: the first
// touch of fresh pages is part of producing any new image.
void BM_memcpy_fresh (benchmark::State &state)
{
    std::unique_ptr<unsigned char[]> src (new unsigned char[kPixelBytes]);
    std::memset (src.get (), 7, kPixelBytes);
    for (auto _ : state) {
        auto *dst = static_cast<unsigned char *> (std::malloc (kPixelBytes));
        std::memcpy (dst, src.get (), kPixelBytes);
        benchmark::DoNotOptimize (dst);
        benchmark::ClobberMemory ();
        std::free (dst);
    }
    state.SetBytesProcessed (int64_t (state.iterations ()) * int64_t (kPixelBytes));
}

void BM_load_file (benchmark::State &state, const std::string &which)
{
    Fixture &f = fixture (which);
    const Loader l = open_loader (f.format);
    if (!l.load) {
        state.SkipWithError ("module not found");
        return;
    }
    for (auto _ : state) {
        std::rewind (f.file);
        Tamba *t = l.load (f.file);
        if (!t) {
            state.SkipWithError ("decode failed");
            return;
        }
        benchmark::DoNotOptimize (t->pixels);
        tamba_unref (t);
    }
    state.SetBytesProcessed (int64_t (state.iterations ()) * int64_t (kPixelBytes));
}

void on_prepare (Tamba *, gpointer) {}
void on_update (Tamba *, guint, guint, guint, guint, gpointer) {}

void BM_load_pieces (benchmark::State &state, const std::string &which)
{
    Fixture &f = fixture (which);
    const Loader l = open_loader (f.format);
    if (!l.begin) {
        state.SkipWithError ("module not found");
        return;
    }
    constexpr size_t kPiece = 64 * 1024;
    for (auto _ : state) {
        gpointer ctx = l.begin (on_prepare, on_update, nullptr, nullptr, nullptr);
        for (size_t off = 0; off < f.bytes.size (); off += kPiece)
            l.increment (ctx, f.bytes.data () + off, guint (std::min (kPiece, f.bytes.size () - off)));
        l.stop (ctx);
    }
    state.SetBytesProcessed (int64_t (state.iterations ()) * int64_t (kPixelBytes));
}

}  // namespace

BENCHMARK (BM_memcpy)->Unit (benchmark::kMillisecond);
BENCHMARK (BM_memcpy_fresh)->Unit (benchmark::kMillisecond);
BENCHMARK_CAPTURE (BM_load_file, bmp24, std::string ("bmp"))->Unit (benchmark::kMillisecond);
BENCHMARK_CAPTURE (BM_load_file, ppm_binary, std::string ("ppm"))->Unit (benchmark::kMillisecond);
BENCHMARK_CAPTURE (BM_load_file, ras24_standard, std::string ("ras"))->Unit (benchmark::kMillisecond);
BENCHMARK_CAPTURE (BM_load_file, ras24_rgb_type, std::string ("ras_rgb"))->Unit (benchmark::kMillisecond);
BENCHMARK_CAPTURE (BM_load_pieces, bmp24, std::string ("bmp"))->Unit (benchmark::kMillisecond);
BENCHMARK_CAPTURE (BM_load_pieces, ppm_binary, std::string ("ppm"))->Unit (benchmark::kMillisecond);
BENCHMARK_CAPTURE (BM_load_pieces, ras24_standard, std::string ("ras"))->Unit (benchmark::kMillisecond);

// --warm-heap keeps freed image memory in the heap (glibc mallopt), so that runs after the first
// decode into pages already touched: what is left is the decoders' own cost.
int main (int argc, char **argv)
{
    std::vector<char *> args;
    for (int i = 0; i < argc; ++i) {
        if (std::strcmp (argv[i], "--warm-heap") == 0) {
            mallopt (M_MMAP_THRESHOLD, 256 << 20);
            mallopt (M_TRIM_THRESHOLD, 512 << 20);
        } else {
            args.push_back (argv[i]);
        }
    }
    int n = int (args.size ());
    benchmark::Initialize (&n, args.data ());
    benchmark::RunSpecifiedBenchmarks ();
    benchmark::Shutdown ();
    return 0;
}
