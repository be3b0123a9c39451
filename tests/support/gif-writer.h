// SPDX-License-Identifier: LGPL-2.1-or-later
// A small GIF writer with a real LZW encoder, shared by the loader tests and the benchmarks so
// that both make their GIF files the same way instead of keeping files in the tree.
#ifndef TAMBA_TESTS_GIF_WRITER_H
#define TAMBA_TESTS_GIF_WRITER_H

#include <cstdint>
#include <vector>

namespace tamba::test {

using Bytes = std::vector<std::uint8_t>;

// One image of a GIF file and the graphic control extension before it.
struct GifImage {
    int x = 0, y = 0, width = 1, height = 1;
    Bytes indices;            // row by row, in display order
    bool interlaced = false;
    bool control = true;      // write a graphic control extension
    int transparent = -1;
    int delay = 0;
    int disposal = 0;
    Bytes local_table;        // RGB triples; empty for none
    int min_code_size = 2;
    Bytes raw_data;           // when set, written instead of the encoded indices
};

// Packs (code, width) pairs LSB first and splits them into data sub-blocks.
class CodeWriter {
public:
    void put (int code, int width);
    // The packed codes as sub-blocks of at most 255 bytes and the terminating empty block.
    Bytes blocks ();

private:
    Bytes bytes_;
    std::uint32_t acc_ = 0;
    int n_ = 0;
};

// How an LZW encoder goes on once all 4096 codes are in use.
enum class FullTable {
    Keep,   // keeps the full table and emits no clear code, as some encoders do
    Clear,  // emits a clear code and starts a new table, as most encoders do
};

// The image data sub-blocks of the indices (each below 2^min_code_size).
Bytes lzw_encode (const Bytes &indices, int min_code_size, FullTable full = FullTable::Keep);

// The indices reordered into the four interlace passes.
Bytes interlace_order (const GifImage &im);

// A GIF89a file; global_table holds RGB triples (a power of two of them, or none).
Bytes make_gif (int screen_width, int screen_height, const Bytes &global_table,
                const std::vector<GifImage> &images, bool trailer = true,
                FullTable full = FullTable::Keep);

}  // namespace tamba::test

#endif
