// SPDX-License-Identifier: LGPL-2.1-or-later
// What the subcommands of tamba-tool share: exit codes, option parsing, error lines, loading
// with a diagnosis of why a file failed, and small pixel helpers.
#ifndef TAMBA_TOOL_TOOL_H
#define TAMBA_TOOL_TOOL_H

#include <tamba/tamba.h>

#include <memory>
#include <optional>
#include <string>

namespace tamba::tool {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;  // at least one file failed; the others were processed
inline constexpr int kExitUsage = 2;

// Each subcommand gets its own argv with argv[0] the subcommand's name.
int run_info (int argc, char **argv);
int run_checksum (int argc, char **argv);
int run_color (int argc, char **argv);
int run_formats (int argc, char **argv);
int run_progressive (int argc, char **argv);
int run_convert (int argc, char **argv);
int run_thumbnail (int argc, char **argv);

struct TambaUnref {
    void operator() (Tamba *t) const noexcept { tamba_unref (t); }
};
using Image = std::unique_ptr<Tamba, TambaUnref>;
struct AnimationUnref {
    void operator() (TambaAnimation *a) const noexcept { tamba_animation_unref (a); }
};
using Animation = std::unique_ptr<TambaAnimation, AnimationUnref>;
struct OptionContextFree {
    void operator() (GOptionContext *c) const noexcept { g_option_context_free (c); }
};
using OptionContext = std::unique_ptr<GOptionContext, OptionContextFree>;
struct ObjectUnref {
    void operator() (TambaLoader *l) const noexcept { g_object_unref (l); }
};
using Loader = std::unique_ptr<TambaLoader, ObjectUnref>;

// A context for one subcommand, its help showing "tamba-tool NAME [OPTION…] PARAMETERS".
OptionContext make_context (const char *parameters, const char *summary,
                            const GOptionEntry *entries);
// Parses argv; false after printing the usage error on stderr.
bool parse_options (GOptionContext *context, int *argc, char ***argv);
// Prints "tamba-tool NAME: message" and the pointer to --help on stderr; returns kExitUsage.
int usage_error (const char *message);

// Routes every GLib message into a buffer instead of stderr, for the life of the process.
void capture_log_messages ();
// The first message logged since the last call, on one line ("" for none); clears the buffer.
std::string take_log_message ();

// "FILE: reason" on stderr.
void report (const char *file, const std::string &reason);

// The format record for the file, after checking that it opens and that a format recognises
// its first bytes; nullptr with the reason in *error otherwise.
TambaModule *probe_file (const char *filename, std::string *error);
// Loads the image (nullptr with the reason in *error, which then names what went wrong in the
// file's terms: cannot open, no loader, cannot decode). *format receives the module's name.
Image load_image (const char *filename, std::string *error, std::string *format = nullptr);
Animation load_animation (const char *filename, std::string *error,
                          TambaModule **module = nullptr);
// The reason for a decode that gave nothing: the module's warning, or a generic one.
std::string decode_failure ();

// Feeds the file to a new loader in pieces of piece bytes and closes it; with print_signals
// each signal is printed on stdout as it is emitted. nullptr with the reason in *error when
// the file does not open, is not recognised, is refused or gives no image.
Loader feed_loader (const char *filename, size_t piece, bool print_signals, std::string *error);

// Reads a whole file into memory; false with the reason for a file that does not read.
bool read_file (const char *filename, std::string *bytes, std::string *error);

// The size that makes the longer side `longest`, aspect kept (the shorter side at least 1).
void fit_size (int width, int height, int longest, int *fit_width, int *fit_height);

// The saver's format for a file name's extension ("png", "jpeg", "pnm", "bmp"), or nullptr.
const char *format_for_file (const char *filename);
// Writes the image; false with "cannot save: <the saver's warning>" in *error.
bool save_image (const Tamba *image, const char *filename, const char *format, int quality,
                 std::string *error);

// The checkerboard colours images with alpha are put over.
inline constexpr guint32 kCheckLight = 0xcccccc;
inline constexpr guint32 kCheckDark = 0x999999;

// "retain", "dispose" or "revert".
const char *action_name (TambaFrameAction action);

// The SHA-256 of the pixels, rows without their padding, in lower-case hex.
std::string pixel_sha256 (const Tamba *image);

}  // namespace tamba::tool

#endif
