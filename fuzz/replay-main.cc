// SPDX-License-Identifier: LGPL-2.1-or-later
// Replays fuzz inputs without libFuzzer: every regular file of each folder (or each file) named
// on the command line goes through the target once. README files are skipped. A crash or abort
// fails the run; otherwise it reports how many inputs it replayed.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput (const std::uint8_t *data, size_t size);

namespace {

int replay_file (const std::filesystem::path &path)
{
    std::ifstream in (path, std::ios::binary);
    if (!in) {
        std::fprintf (stderr, "cannot read %s\n", path.c_str ());
        return 1;
    }
    const std::vector<char> bytes ((std::istreambuf_iterator<char> (in)),
                                   std::istreambuf_iterator<char> ());
    std::fprintf (stderr, "replaying %s (%zu bytes)\n", path.c_str (), bytes.size ());
    // An exact-sized heap copy, so a read past the input's end is caught by the sanitizers.
    std::vector<std::uint8_t> copy (bytes.begin (), bytes.end ());
    LLVMFuzzerTestOneInput (copy.data (), copy.size ());
    return 0;
}

}  // namespace

int main (int argc, char **argv)
{
    namespace fs = std::filesystem;
    int replayed = 0, errors = 0;
    for (int i = 1; i < argc; ++i) {
        const fs::path arg (argv[i]);
        std::vector<fs::path> files;
        if (fs::is_directory (arg)) {
            for (const auto &entry : fs::directory_iterator (arg))
                if (entry.is_regular_file ()
                    && entry.path ().filename ().string ().rfind ("README", 0) != 0)
                    files.push_back (entry.path ());
        } else if (fs::exists (arg)) {
            files.push_back (arg);
        }
        std::sort (files.begin (), files.end ());
        for (const auto &f : files) {
            errors += replay_file (f);
            ++replayed;
        }
    }
    std::printf ("%d inputs replayed, %d unreadable\n", replayed, errors);
    return errors ? 1 : 0;
}
