// SPDX-License-Identifier: LGPL-2.1-or-later
// Shared by the loader-module tests: the corpus index, reference decodes (PAM), opening a
// module by path, and driving it whole-file or progressively in pieces.
#ifndef TAMBA_TESTS_CORPUS_H
#define TAMBA_TESTS_CORPUS_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "tamba/tamba.h"

namespace tamba::test {

// The corpus folder: $TAMBA_CORPUS_DIR, else the build-time default; "" when neither exists.
std::string corpus_dir ();

struct CorpusEntry {
    std::string path;    // absolute
    std::string format;  // "png", "bmp", ...
    std::string expect;  // "ok", "fail" or "either"
    std::string ref;     // absolute path of the reference decode, or "" for none
    std::string notes;
};

// The index rows for one format (all formats for ""); empty when there is no corpus.
std::vector<CorpusEntry> corpus_entries (const std::string &format);

// For INSTANTIATE_TEST_SUITE_P: a test name made from the file's path.
std::string corpus_test_name (const CorpusEntry &e);

// Test listings show the file rather than the record's bytes.
inline void PrintTo (const CorpusEntry &e, std::ostream *os)
{
    *os << e.path << " (" << e.expect << ")";
}

// A reference decode: 8-bit RGB (depth 3) or RGBA (depth 4), rows packed.
struct Pam {
    int width = 0, height = 0, depth = 0;
    std::vector<std::uint8_t> samples;
};
std::optional<Pam> read_pam (const std::string &path);

// "" when the image matches the reference, else what differs. An RGB reference requires alpha
// 255 of an RGBA image; where both sides are transparent the colour is not compared.
// max_diff receives the largest sample difference seen (when not null).
std::string compare_with_ref (const Tamba *image, const Pam &ref, int tolerance = 0,
                              int *max_diff = nullptr);

// The expected decode of a corpus file. A full corpus holds it as a PAM file; the copy kept in
// the source tree holds a PNG beside the input (named like the PAM with .png) where the pixels
// are needed, else only the size and pixel hash listed in its reference-hashes.tsv.
struct Reference {
    int width = 0, height = 0, depth = 0;
    std::optional<Pam> pixels;
    std::string sha256;  // of pixel_hash's form, when only the hash is known
};
// nullopt when the reference is in none of those forms, or a PNG differs from its listed hash.
std::optional<Reference> read_reference (const std::string &ref_path);

// SHA-256 (lower-case hex) of "W H D\n" and the packed samples, colour set to 0 where alpha is 0,
// so that two decodes compare_with_ref accepts at tolerance 0 hash alike.
std::string pixel_hash (const Pam &pam);

// compare_with_ref against either form. A hash-only reference is compared exactly; asking it for
// a tolerance is reported as a difference, since only pixels can be compared within one.
std::string compare_with_ref (const Tamba *image, const Reference &ref, int tolerance = 0,
                              int *max_diff = nullptr);
// "" when the two images have the same size, layout and pixel bytes.
std::string compare_images (const Tamba *a, const Tamba *b);

std::vector<std::uint8_t> read_file (const std::string &path);

// A loader module opened straight from its file, bypassing the library's format table.
class Module {
public:
    // path: the module file; name: the format name in its symbols ("png" for tamba__png_...).
    Module (const std::string &path, const std::string &name);
    ~Module ();
    Module (const Module &) = delete;
    Module &operator= (const Module &) = delete;

    bool ok () const { return handle_ != nullptr; }
    const TambaModule &entries () const { return entries_; }

    // Whole-file load; nullptr when the module fails.
    Tamba *load_file (const std::string &path) const;
    TambaAnimation *load_animation_file (const std::string &path) const;

private:
    void *handle_ = nullptr;
    TambaModule entries_ {};
};

// What a progressive load produced, and what the callbacks saw.
struct Progressive {
    Tamba *image = nullptr;          // the image handed to prepare (one reference held)
    bool increments_ok = true;       // every load_increment returned TRUE
    int prepared = 0;                // prepare calls
    int updates = 0;                 // update calls
    bool updates_in_bounds = true;   // every update rectangle lies inside the image
    std::vector<TambaFrame *> frames;  // frames handed over (owned by this record)
    int animation_done = 0;
    std::string protocol_error;      // a callback broke the contract, or ""

    Progressive () = default;
    Progressive (const Progressive &) = delete;
    Progressive &operator= (const Progressive &) = delete;
    Progressive (Progressive &&other) noexcept;
    ~Progressive ();
};

// Feeds the bytes to the module in pieces of piece_size (the last one shorter), then stops it.
// Feeding stops at the first failed increment, as the library's progressive loader does.
Progressive load_in_pieces (const Module &module, const std::vector<std::uint8_t> &bytes,
                            size_t piece_size);
// The same with piece sizes taken in turn from piece_sizes (cycled; a 0 is taken as 1).
Progressive load_in_pieces (const Module &module, const std::vector<std::uint8_t> &bytes,
                            const std::vector<size_t> &piece_sizes);

// Frees an animation made by a module: its frames, their image references, the list.
void free_animation (TambaAnimation *animation);

}  // namespace tamba::test

#endif
