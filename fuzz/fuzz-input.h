// SPDX-License-Identifier: LGPL-2.1-or-later
// Splitting a fuzz input into its payload and the option bytes at its end.
//
// Every target reads its options from the input's last bytes, so a real file with a few bytes
// appended is a good seed, and a minimised crasher still says which options it ran with.
#ifndef TAMBA_FUZZ_INPUT_H
#define TAMBA_FUZZ_INPUT_H

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <glib.h>
#include <unistd.h>

namespace tamba::fuzz {

class FuzzInput {
public:
    // The last n_options bytes are options (missing ones read as 0), the rest is payload.
    FuzzInput (const std::uint8_t *data, size_t size, size_t n_options)
        : options_ (n_options, 0)
    {
        const size_t taken = std::min (size, n_options);
        payload_.assign (data, data + (size - taken));
        std::copy (data + (size - taken), data + size, options_.begin ());
    }

    const std::vector<std::uint8_t> &payload () const { return payload_; }
    std::uint8_t option (size_t i) const { return i < options_.size () ? options_[i] : 0; }
    const std::vector<std::uint8_t> &options () const { return options_; }

private:
    std::vector<std::uint8_t> payload_;
    std::vector<std::uint8_t> options_;
};

// Piece sizes from option bytes: 1..128 bytes for small values, multiples of 64 up to 8 KiB for
// large ones, so both byte-at-a-time feeding and big blocks are reached.
inline std::vector<size_t> piece_sizes (const std::vector<std::uint8_t> &bytes)
{
    std::vector<size_t> sizes;
    for (std::uint8_t b : bytes) sizes.push_back (b < 128 ? size_t (b) + 1 : size_t (b - 127) * 64);
    return sizes;
}

// A file of this process's own in the temporary folder, for targets that go through a file name.
inline std::string scratch_file (const char *target)
{
    return std::string (g_get_tmp_dir ()) + "/tamba-fuzz-" + target + "-" + std::to_string (getpid ());
}

// A broken invariant: say what and abort, so the fuzzer keeps the input.
[[noreturn]] inline void fail (const char *what)
{
    std::fprintf (stderr, "fuzz invariant broken: %s\n", what);
    std::abort ();
}

}  // namespace tamba::fuzz

#endif
