// SPDX-License-Identifier: LGPL-2.1-or-later
// The image corpus: its index, and the expected decodes in the forms it keeps them (a PAM file
// in the full corpus; a PNG beside the input, or a listed pixel hash, in the source tree's copy).
#ifndef TAMBA_TESTS_CORPUS_H
#define TAMBA_TESTS_CORPUS_H

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
    std::string rel;     // relative to the corpus folder
    std::string format;  // "png", "bmp", ...
    std::string expect;  // "ok", "fail" or "either"
    std::string ref;     // absolute path of the reference decode, or "" for none
    std::string notes;
};

// The index rows; empty when there is no corpus.
std::vector<CorpusEntry> corpus_entries ();
// The bytes of one file of the corpus, relative to its folder; empty when it lacks the file.
std::vector<std::uint8_t> corpus_file (const std::string &rel);

inline void PrintTo (const CorpusEntry &e, std::ostream *os) { *os << e.rel << " (" << e.expect << ")"; }

// An expected decode: 8-bit RGB (depth 3) or RGBA (depth 4), rows packed, or only its hash.
struct Reference {
    int width = 0, height = 0, depth = 0;
    std::vector<std::uint8_t> samples;  // empty when only the hash is known
    std::string sha256;
    bool has_pixels () const { return !samples.empty (); }
};
// nullopt when the reference is in none of the forms, or a PNG differs from its listed hash.
std::optional<Reference> read_reference (const std::string &ref_path);

// "" when the image matches the reference, else what differs. An RGB reference requires alpha
// 255 of an RGBA image; where both sides are transparent the colour is not compared. A
// hash-only reference is compared exactly; asking it for a tolerance is reported as a
// difference.
std::string compare_with_ref (const Tamba *image, const Reference &ref, int tolerance = 0);

// A corpus PNG whose image data is stored uncompressed (so that a cut ends amid the rows), and
// that file with the size in its header replaced.
inline constexpr const char *kStoredPngFile = "png/pngsuite/z00n2c08.png";
std::vector<std::uint8_t> png_of_size (std::uint32_t width, std::uint32_t height);

}  // namespace tamba::test

#endif
