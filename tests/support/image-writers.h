// SPDX-License-Identifier: LGPL-2.1-or-later
// Test images made in memory, so that tests build exactly the file they need instead of keeping
// it in the tree: GIF (with a real LZW encoder), BMP and ICO, and small JPEG, RAS and TIFF files
// whose headers claim a given size. Shared by the tests and the benchmarks.
#ifndef TAMBA_TESTS_IMAGE_WRITERS_H
#define TAMBA_TESTS_IMAGE_WRITERS_H

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace tamba::test {

using Bytes = std::vector<std::uint8_t>;

// Appends an integer in little- or big-endian order.
void put_le (Bytes &b, std::uint32_t v, int n);
void put_be (Bytes &b, std::uint32_t v, int n);

// One image of a GIF file (not interlaced, no local colour table) and the graphic control
// extension before it.
struct GifImage {
    int x = 0, y = 0, width = 1, height = 1;
    Bytes indices {};         // row by row
    int transparent = -1, delay = 0, disposal = 0;
    int min_code_size = 2;
    Bytes raw_data {};        // when set, written instead of the encoded indices
};

// Packs (code, width) pairs LSB first and splits them into data sub-blocks.
class CodeWriter {
public:
    void put (int code, int width);
    Bytes blocks ();  // sub-blocks of at most 255 bytes and the terminating empty block

private:
    Bytes bytes_;
    std::uint32_t acc_ = 0;
    int n_ = 0;
};

// How the LZW encoder goes on once all 4096 codes are in use.
enum class FullTable {
    Keep,   // keeps the full table and emits no clear code, as some encoders do
    Clear,  // emits a clear code and starts a new table, as most encoders do
};

// A GIF89a file; global_table holds RGB triples (a power of two of them, or none).
Bytes make_gif (int screen_width, int screen_height, const Bytes &global_table,
                const std::vector<GifImage> &images, bool trailer = true,
                FullTable full = FullTable::Keep);

// A BMP (or, without the file header, the bitmap of an ICO entry): a 40-byte header, the masks,
// palette_colours entries of palette_colour (i), then data as stored.
struct BmpLayout {
    int width = 4, height = 2, bpp = 24;
    std::uint32_t compression = 0;
    std::vector<std::uint32_t> masks {};
    int palette_colours = 0;
};
Bytes palette_colour (int i);  // R, G, B
Bytes write_bmp (const BmpLayout &layout, const Bytes &data, bool file_header = true);

// An ICO (type 1) or CUR (type 2) file of entries: directory size, depth and the entry's data.
struct IcoEntry {
    int width, height, bpp;
    Bytes data;
};
Bytes write_ico (const std::vector<IcoEntry> &entries, int type = 1);

Bytes bytes_of (const std::string &s);

// A JPEG with the frame size in its first SOF marker replaced.
Bytes with_frame_size (Bytes jpeg, unsigned width, unsigned height);
// RAS: a header (width, height, depth, data length 0, type, map type, map length) and 64 zero
// bytes.
Bytes ras_header (std::initializer_list<std::uint32_t> fields);
// TIFF: an uncompressed 8-bit grey image of one strip of zero rows (at most 4096 bytes of them),
// with a tag no reader knows when unknown_tag.
Bytes tiff_of (std::uint32_t width, std::uint32_t height, bool unknown_tag = false);

}  // namespace tamba::test

#endif
