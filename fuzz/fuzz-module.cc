// SPDX-License-Identifier: LGPL-2.1-or-later
// One loader module, fuzzed two ways: the whole-file entry on a memory FILE, and the progressive
// entries fed in pieces whose sizes come from the input's last 4 bytes. When both give an image,
// the pixels must be the same. A module that decodes at a reduced size is tried at one too.
// Built once per format (TAMBA_FUZZ_FORMAT); the module is opened by path from the build's loader
// folder, and a module that is not built makes every input a no-op.
#include <algorithm>
#include <cstdio>
#include <string>

#include "modules.h"
#include "fuzz-input.h"

#ifndef TAMBA_FUZZ_FORMAT
#error "TAMBA_FUZZ_FORMAT names the format of this target"
#endif
#ifndef TAMBA_FUZZ_MODULE_DIR
#error "TAMBA_FUZZ_MODULE_DIR names the folder of the built loader modules"
#endif

namespace {

constexpr size_t kPieceOptionBytes = 4;

const tamba::test::Module &module ()
{
    static const tamba::test::Module m (
        std::string (TAMBA_FUZZ_MODULE_DIR) + "/libtambaloader-" TAMBA_FUZZ_FORMAT ".so",
        TAMBA_FUZZ_FORMAT);
    return m;
}

// Runs a whole-file entry on a memory FILE holding the bytes; nullptr when there is no entry.
template <typename Entry>
auto load_from_memory (Entry entry, const std::vector<std::uint8_t> &bytes)
    -> decltype (entry (nullptr))
{
    if (!entry || bytes.empty ()) return nullptr;  // fmemopen refuses an empty buffer
    std::vector<std::uint8_t> copy (bytes);
    FILE *f = fmemopen (copy.data (), copy.size (), "rb");
    if (!f) return nullptr;
    auto result = entry (f);
    std::fclose (f);
    return result;
}

void expect_same (const Tamba *whole, const Tamba *piecewise, const char *what)
{
    const std::string diff = tamba::test::compare_images (whole, piecewise);
    if (diff.empty ()) return;
    std::fprintf (stderr, "%s: %s\n", what, diff.c_str ());
    tamba::fuzz::fail ("whole-file and progressive loads differ");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput (const std::uint8_t *data, size_t size)
{
    if (!module ().ok ()) return 0;
    const tamba::fuzz::FuzzInput input (data, size, kPieceOptionBytes);

    const auto &entries = module ().entries ();
    Tamba *whole = load_from_memory (entries.load, input.payload ());
    if (whole && (whole->width <= 0 || whole->height <= 0 || !whole->pixels))
        tamba::fuzz::fail ("whole-file load returned an image without pixels");
    TambaAnimation *animation = load_from_memory (entries.load_animation, input.payload ());
    if (animation && (animation->n_frames < 1 || !animation->frames))
        tamba::fuzz::fail ("whole-file animation without frames");

    if (entries.begin_load) {
        const auto p = tamba::test::load_in_pieces (module (), input.payload (),
                                                    tamba::fuzz::piece_sizes (input.options ()));
        if (!p.protocol_error.empty ()) tamba::fuzz::fail (p.protocol_error.c_str ());
        if (!p.updates_in_bounds) tamba::fuzz::fail ("update rectangle outside the image");
        // An animated format hands over frames as they are; its whole-file image is composed
        // on the screen, so frames are compared with the whole-file animation's.
        if (animation && p.increments_ok && !p.frames.empty ()) {
            const auto *first = static_cast<const TambaFrame *> (animation->frames->data);
            const TambaFrame *piece_first = p.frames.front ();
            if (first->x_offset != piece_first->x_offset
                || first->y_offset != piece_first->y_offset)
                tamba::fuzz::fail ("first frames lie at different offsets");
            expect_same (first->tamba, piece_first->tamba, "first frame");
        } else if (!entries.load_animation && whole && p.increments_ok && p.image) {
            expect_same (whole, p.image, "image");
        }
    }
    // The reduced decode, for a square whose side comes from the first option byte: never
    // larger than the whole image, never below the side where the whole image is not.
    if (entries.load_at_size && whole && !input.payload ().empty ()) {
        const int side = 1 + input.option (0) * 4;
        std::vector<std::uint8_t> copy (input.payload ());
        if (FILE *f = fmemopen (copy.data (), copy.size (), "rb")) {
            Tamba *reduced = entries.load_at_size (f, side, side);
            std::fclose (f);
            if (!reduced) tamba::fuzz::fail ("reduced decode refused what the whole load took");
            if (reduced->width > whole->width || reduced->height > whole->height
                || reduced->width < std::min (side, whole->width)
                || reduced->height < std::min (side, whole->height))
                tamba::fuzz::fail ("reduced decode outside its bounds");
            tamba_unref (reduced);
        }
    }
    tamba::test::free_animation (animation);
    if (whole) tamba_unref (whole);
    return 0;
}
