// SPDX-License-Identifier: LGPL-2.1-or-later
// Internal to the loading area: its messages (shared with the tests), the file opening that
// whole-file and animation loading have in common, and module opening for saving.
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

inline constexpr char kNoMemoryToScale[] = "Not enough memory to scale %s to %dx%d";

// Saving: one warning, the file and the reason.
inline constexpr char kSaveFailed[] = "Cannot save %s: %s";
inline constexpr char kSaveUnknownFormat[] = "unknown format \"%s\"";
inline constexpr char kSaveNoSaver[] = "the %s module cannot save";
inline constexpr char kSaveCannotOpen[] = "cannot open for writing: %s";
inline constexpr char kSaveWriteError[] = "write error: %s";
inline constexpr char kSaveEncodeFailed[] = "the %s module could not write the image";
inline constexpr char kSaveBadQuality[] = "quality %d is not in 1..100";
inline constexpr char kSaveBadImage[] = "not a valid 8-bit RGB or RGBA image";

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

// Opens the record's module and binds its entry points. NULL on success, else the message that
// tamba_load_module warns with (the caller frees it); the record then stays unopened.
gchar *open_module (TambaModule *image_module);

// The format record called name, or NULL.
TambaModule *find_format (const char *name);

}  // namespace tamba::detail

#endif  // TAMBA_TAMBA_LOADING_H
