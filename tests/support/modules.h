// SPDX-License-Identifier: LGPL-2.1-or-later
// Loader modules opened straight from their files, bypassing the library's format table, and
// driven whole-file or progressively in pieces; shared by the tests, the fuzz replays and the
// benchmarks.
#ifndef TAMBA_TESTS_MODULES_H
#define TAMBA_TESTS_MODULES_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tamba/tamba.h"

namespace tamba::test {

using Bytes = std::vector<std::uint8_t>;

struct ImageUnref {
    void operator() (Tamba *t) const { tamba_unref (t); }
};
using ImagePtr = std::unique_ptr<Tamba, ImageUnref>;

Bytes read_file (const std::string &path);

// "" when the two images have the same size, layout and pixel bytes.
std::string compare_images (const Tamba *a, const Tamba *b);

class Module {
public:
    // path: the module file; name: the format name in its symbols ("png" for tamba__png_...).
    Module (const std::string &path, const std::string &name);
    Module (const Module &) = delete;
    Module &operator= (const Module &) = delete;

    bool ok () const { return entries_.module != nullptr; }
    const TambaModule &entries () const { return entries_; }
    // Whole-file loads of bytes, through a temporary file.
    Tamba *load_bytes (const Bytes &bytes) const;
    TambaAnimation *load_animation_bytes (const Bytes &bytes) const;
    // The strings of an XPM image given to load_xpm_data.
    Tamba *load_xpm_strings (const std::vector<std::string> &strings) const;

private:
    TambaModule entries_ {};  // modules stay open, as the library keeps them
};

// The module of this build for a format, opened once per process.
const Module &module_for (const std::string &format);

// What a progressive load produced, and what the callbacks saw.
struct Progressive {
    Tamba *image = nullptr;            // the image last prepared (one reference held)
    bool increments_ok = true;         // every load_increment returned TRUE
    int prepared = 0, updates = 0, animation_done = 0;
    bool updates_in_bounds = true;     // every update rectangle lies inside the image
    std::vector<int> row_updates;      // per row of the image last prepared: updates covering it
    int image_updates = 0;             // updates for the image last prepared
    int prepared_before_stop = 0, updates_before_stop = 0;  // counted when stop_load was called
    bool complete_before_stop = false; // the image last prepared had every row updated by then
    std::vector<TambaFrame *> frames;  // frames handed over (owned by this record)
    std::string protocol_error;        // a callback broke the contract, or ""

    Progressive () = default;
    Progressive (Progressive &&other) noexcept : Progressive (other) { other.image = nullptr, other.frames.clear (); }
    ~Progressive ();

private:
    Progressive (const Progressive &) = default;  // only for the move, which takes the references
};

// Feeds the bytes to the module in pieces taken in turn from piece_sizes (the last one shorter;
// 0 or none: all at once), then stops it. Feeding stops at the first failed increment, as the
// library's progressive loader does.
Progressive load_in_pieces (const Module &module, const Bytes &bytes,
                            const std::vector<size_t> &piece_sizes);
inline Progressive load_in_pieces (const Module &m, const Bytes &b, size_t piece) { return load_in_pieces (m, b, std::vector {piece}); }

// The piece sizes of the conformance and format tests; 0 is the whole data at once.
inline const std::vector<size_t> kPieceSizes = {1, 13, 787, 4096, 0};

// Frees an animation made by a module: its frames, their image references, the list.
void free_animation (TambaAnimation *animation);

}  // namespace tamba::test

#endif
