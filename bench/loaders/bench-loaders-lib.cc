// SPDX-License-Identifier: LGPL-2.1-or-later
// Loader modules against the bare decoding libraries on the same files, and progressive loading
// in 4 KiB pieces against whole-file loading. Run: build/bench/loaders/bench-loaders-lib
#include <benchmark/benchmark.h>
#include <gmodule.h>
#include <png.h>
#include <tiffio.h>
#include <turbojpeg.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "tamba/tamba.h"

namespace {

constexpr int kWidth = 4000, kHeight = 3000;
constexpr double kMegapixels = kWidth * double (kHeight) / 1e6;
constexpr size_t kPiece = 4096;

// A photo-like picture: smooth gradients with a little noise, so the codecs work as on photos.
std::vector<unsigned char> make_rgb ()
{
    std::vector<unsigned char> rgb (size_t (kWidth) * kHeight * 3);
    unsigned seed = 12345;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            seed = seed * 1103515245u + 12345u;
            const int noise = int ((seed >> 16) & 15);
            unsigned char *p = &rgb[(size_t (y) * kWidth + x) * 3];
            p[0] = (unsigned char) ((x * 240 / kWidth) + noise);
            p[1] = (unsigned char) ((y * 240 / kHeight) + noise);
            p[2] = (unsigned char) (((x + y) * 240 / (kWidth + kHeight)) + (noise >> 1));
        }
    return rgb;
}

struct Files {
    std::string png, jpeg, tiff;
    Files ()
    {
        const std::string base = std::string (g_get_tmp_dir ()) + "/tamba-bench-" + std::to_string (getpid ());
        png = base + ".png", jpeg = base + ".jpg", tiff = base + ".tif";
        const auto rgb = make_rgb ();

        png_image image {};
        image.version = PNG_IMAGE_VERSION;
        image.width = kWidth, image.height = kHeight, image.format = PNG_FORMAT_RGB;
        png_image_write_to_file (&image, png.c_str (), 0, rgb.data (), 0, nullptr);

        tjhandle tj = tjInitCompress ();
        unsigned char *jpeg_bytes = nullptr;
        unsigned long jpeg_size = 0;
        tjCompress2 (tj, rgb.data (), kWidth, 0, kHeight, TJPF_RGB, &jpeg_bytes, &jpeg_size,
                     TJSAMP_420, 90, 0);
        FILE *f = std::fopen (jpeg.c_str (), "wb");
        std::fwrite (jpeg_bytes, 1, jpeg_size, f);
        std::fclose (f);
        tjFree (jpeg_bytes);
        tjDestroy (tj);

        TIFF *tif = TIFFOpen (tiff.c_str (), "w");
        TIFFSetField (tif, TIFFTAG_IMAGEWIDTH, kWidth);
        TIFFSetField (tif, TIFFTAG_IMAGELENGTH, kHeight);
        TIFFSetField (tif, TIFFTAG_BITSPERSAMPLE, 8);
        TIFFSetField (tif, TIFFTAG_SAMPLESPERPIXEL, 3);
        TIFFSetField (tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
        TIFFSetField (tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        TIFFSetField (tif, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
        TIFFSetField (tif, TIFFTAG_ROWSPERSTRIP, 16);
        for (int y = 0; y < kHeight; ++y)
            TIFFWriteScanline (tif, const_cast<unsigned char *> (&rgb[size_t (y) * kWidth * 3]), uint32_t (y), 0);
        TIFFClose (tif);
    }
    ~Files ()
    {
        std::remove (png.c_str ());
        std::remove (jpeg.c_str ());
        std::remove (tiff.c_str ());
    }
};

const Files &files ()
{
    static const Files f;
    return f;
}

std::vector<unsigned char> read_all (const std::string &path)
{
    std::vector<unsigned char> bytes;
    FILE *f = std::fopen (path.c_str (), "rb");
    std::fseek (f, 0, SEEK_END);
    bytes.reserve (size_t (std::ftell (f)));
    std::rewind (f);
    unsigned char chunk[65536];
    size_t n;
    while ((n = std::fread (chunk, 1, sizeof chunk, f)) > 0) bytes.insert (bytes.end (), chunk, chunk + n);
    std::fclose (f);
    return bytes;
}

// A module's entries, bound by name from its file in the build tree.
struct ModuleEntries {
    Tamba *(*load) (FILE *) = nullptr;
    gpointer (*begin_load) (TambaPrepareFunc, TambaUpdateFunc, TambaFrameDoneFunc,
                            TambaAnimationDoneFunc, gpointer) = nullptr;
    void (*stop_load) (gpointer) = nullptr;
    gboolean (*load_increment) (gpointer, const guchar *, guint) = nullptr;

    explicit ModuleEntries (const std::string &name)
    {
        const std::string path = std::string (TAMBA_LOADER_DIR) + "/libtambaloader-" + name + ".so";
        GModule *m = g_module_open (path.c_str (), G_MODULE_BIND_LAZY);
        if (!m) return;
        const std::string prefix = "tamba__" + name + "_image_";
        g_module_symbol (m, (prefix + "load").c_str (), reinterpret_cast<gpointer *> (&load));
        g_module_symbol (m, (prefix + "begin_load").c_str (), reinterpret_cast<gpointer *> (&begin_load));
        g_module_symbol (m, (prefix + "stop_load").c_str (), reinterpret_cast<gpointer *> (&stop_load));
        g_module_symbol (m, (prefix + "load_increment").c_str (),
                         reinterpret_cast<gpointer *> (&load_increment));
    }
};

const ModuleEntries &module (const std::string &name)
{
    static const ModuleEntries png ("png"), jpeg ("jpeg"), tiff ("tiff");
    return name == "png" ? png : name == "jpeg" ? jpeg : tiff;
}

const std::string &file_of (const std::string &name)
{
    return name == "png" ? files ().png : name == "jpeg" ? files ().jpeg : files ().tiff;
}

void set_rate (benchmark::State &state)
{
    state.counters["Mpx/s"] = benchmark::Counter (kMegapixels * double (state.iterations ()),
                                                  benchmark::Counter::kIsRate);
}

// What tamba_new_from_file does after recognising the format: the module's whole-file entry.
void module_whole_file (benchmark::State &state, const std::string &name)
{
    const ModuleEntries &m = module (name);
    const std::string &path = file_of (name);
    for (auto _ : state) {
        FILE *f = std::fopen (path.c_str (), "rb");
        Tamba *image = m.load (f);
        std::fclose (f);
        if (!image) state.SkipWithError ("module failed");
        else tamba_unref (image);
    }
    set_rate (state);
}

// As a viewer reading a stream: the file is read 4 KiB at a time and each piece is written on.
void module_progressive (benchmark::State &state, const std::string &name)
{
    const ModuleEntries &m = module (name);
    const std::string &path = file_of (name);
    int prepared = 0;
    for (auto _ : state) {
        FILE *f = std::fopen (path.c_str (), "rb");
        gpointer ctx = m.begin_load ([] (Tamba *, gpointer p) { ++*static_cast<int *> (p); },
                                     [] (Tamba *, guint, guint, guint, guint, gpointer) {},
                                     nullptr, nullptr, &prepared);
        unsigned char piece[kPiece];
        size_t n;
        while ((n = std::fread (piece, 1, sizeof piece, f)) > 0) m.load_increment (ctx, piece, guint (n));
        m.stop_load (ctx);
        std::fclose (f);
    }
    if (prepared != int (state.iterations ())) state.SkipWithError ("progressive load failed");
    set_rate (state);
}

void bare_png (benchmark::State &state)
{
    for (auto _ : state) {
        png_image image {};
        image.version = PNG_IMAGE_VERSION;
        png_image_begin_read_from_file (&image, files ().png.c_str ());
        image.format = PNG_FORMAT_RGB;
        std::unique_ptr<unsigned char[]> buffer (new unsigned char[PNG_IMAGE_SIZE (image)]);
        if (!png_image_finish_read (&image, nullptr, buffer.get (), 0, nullptr))
            state.SkipWithError ("libpng failed");
        benchmark::DoNotOptimize (buffer.get ());
    }
    set_rate (state);
}

void bare_jpeg (benchmark::State &state)
{
    tjhandle tj = tjInitDecompress ();
    for (auto _ : state) {
        auto bytes = read_all (files ().jpeg);
        std::unique_ptr<unsigned char[]> buffer (new unsigned char[size_t (kWidth) * kHeight * 3]);
        if (tjDecompress2 (tj, bytes.data (), (unsigned long) bytes.size (), buffer.get (), kWidth, 0,
                           kHeight, TJPF_RGB, 0) != 0)
            state.SkipWithError ("libjpeg-turbo failed");
        benchmark::DoNotOptimize (buffer.get ());
    }
    tjDestroy (tj);
    set_rate (state);
}

void bare_tiff (benchmark::State &state)
{
    for (auto _ : state) {
        TIFF *tif = TIFFOpen (files ().tiff.c_str (), "r");
        std::unique_ptr<uint32_t[]> raster (new uint32_t[size_t (kWidth) * kHeight]);
        if (!TIFFReadRGBAImageOriented (tif, kWidth, kHeight, raster.get (), ORIENTATION_TOPLEFT, 0))
            state.SkipWithError ("libtiff failed");
        TIFFClose (tif);
        benchmark::DoNotOptimize (raster.get ());
    }
    set_rate (state);
}

BENCHMARK (bare_png)->Name ("png/libpng_simplified")->Unit (benchmark::kMillisecond);
BENCHMARK_CAPTURE (module_whole_file, png, std::string ("png"))->Name ("png/module_whole_file")->Unit (benchmark::kMillisecond);
BENCHMARK_CAPTURE (module_progressive, png, std::string ("png"))->Name ("png/module_progressive_4k")->Unit (benchmark::kMillisecond);
BENCHMARK (bare_jpeg)->Name ("jpeg/tjDecompress2")->Unit (benchmark::kMillisecond);
BENCHMARK_CAPTURE (module_whole_file, jpeg, std::string ("jpeg"))->Name ("jpeg/module_whole_file")->Unit (benchmark::kMillisecond);
BENCHMARK_CAPTURE (module_progressive, jpeg, std::string ("jpeg"))->Name ("jpeg/module_progressive_4k")->Unit (benchmark::kMillisecond);
BENCHMARK (bare_tiff)->Name ("tiff/TIFFReadRGBAImage")->Unit (benchmark::kMillisecond);
BENCHMARK_CAPTURE (module_whole_file, tiff, std::string ("tiff"))->Name ("tiff/module_whole_file")->Unit (benchmark::kMillisecond);
BENCHMARK_CAPTURE (module_progressive, tiff, std::string ("tiff"))->Name ("tiff/module_progressive_4k")->Unit (benchmark::kMillisecond);

}  // namespace

int main (int argc, char **argv)
{
    benchmark::Initialize (&argc, argv);
    std::printf ("file sizes: png %ld, jpeg %ld, tiff %ld bytes\n", long (read_all (files ().png).size ()),
                 long (read_all (files ().jpeg).size ()), long (read_all (files ().tiff).size ()));
    benchmark::RunSpecifiedBenchmarks ();
    benchmark::Shutdown ();
    return 0;
}
