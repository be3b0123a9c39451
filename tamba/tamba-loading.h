// Internal to the loading area: its messages (shared with the tests) and the file opening that
// whole-file and animation loading have in common.
#ifndef TAMBA_TAMBA_LOADING_H
#define TAMBA_TAMBA_LOADING_H

#include <cstdio>
#include <memory>

#include "tamba/tamba.h"

namespace tamba::detail {

inline constexpr char kNoHandler[] = "Unable to find handler for file: %s";
inline constexpr char kModuleOpenFailed[] = "Unable to load module: %s: %s";
inline constexpr char kNoXpmModule[] = "Can't find tamba module for parsing inline XPM data";
inline constexpr char kNoXpmData[] = "tamba XPM module lacks XPM data capability";
inline constexpr char kNotIncremental[] = "module %s does not support incremental loading.\n";
inline constexpr char kBeginFailed[] = "Failed to begin progressive load";

// How many leading bytes the format tests look at.
inline constexpr int kHeaderSize = 128;

struct FileCloser {
    void operator() (FILE *f) const noexcept { std::fclose (f); }
};
using File = std::unique_ptr<FILE, FileCloser>;

// Opens filename, recognises its format from the first bytes and opens the format's module.
// Returns the record (its module possibly still unopened) with the file rewound to offset 0
// in *file, or NULL: with no message for a file that does not open, is empty or cannot be
// rewound, with the "no handler" warning for unrecognised data.
TambaModule *open_with_module (const char *filename, File *file);

}  // namespace tamba::detail

#endif  // TAMBA_TAMBA_LOADING_H
