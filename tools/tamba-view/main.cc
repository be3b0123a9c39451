// SPDX-License-Identifier: LGPL-2.1-or-later
// tamba-view: shows images and animations in an X window, or writes a snapshot of the window.
#include "messages.h"
#include "player.h"
#include "viewer.h"

#include <gdk/gdk.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace tamba::view;

constexpr int kUsageError = 2;

struct ContextFree {
    void operator() (GOptionContext *c) const noexcept { g_option_context_free (c); }
};
struct StrvFree {
    void operator() (gchar **v) const noexcept { g_strfreev (v); }
};

// The file as a player, or null after one line saying why it cannot be shown.
std::unique_ptr<Player> load (const char *name)
{
    if (FILE *f = std::fopen (name, "rb")) {
        std::fclose (f);
    } else {
        report (name, std::string ("cannot open: ") + std::strerror (errno));
        return nullptr;
    }
    WarningCatcher caught;
    TambaAnimation *animation = tamba_animation_new_from_file (name);
    if (!animation) {
        const std::string &why = caught.first ();
        if (why.empty ()) report (name, "cannot decode");
        else if (why.rfind ("Unable to find handler", 0) == 0)
            report (name, "no loader recognises this file");
        else report (name, "cannot decode: " + why);
        return nullptr;
    }
    std::unique_ptr<Player> player = Player::create (animation);
    tamba_animation_unref (animation);
    if (!player) report (name, "no frame to show");
    return player;
}

bool open_display (const char *display)
{
    std::string prog = kProgram, opt = "--display", name = display ? display : "";
    char *args[] = {prog.data (), opt.data (), name.data (), nullptr};
    int argc = display ? 3 : 1;
    char **argv = args;
    if (gdk_init_check (&argc, &argv)) return true;
    const char *shown = display ? display : g_getenv ("DISPLAY");
    if (shown && *shown) std::fprintf (stderr, "%s: cannot open display %s\n", kProgram, shown);
    else std::fprintf (stderr, "%s: cannot open display: DISPLAY is not set\n", kProgram);
    return false;
}

}  // namespace

int main (int argc, char **argv)
{
    double scale = NAN;  // fit the screen
    gchar *snapshot = nullptr, *display = nullptr;
    int after = 1;
    gboolean version = FALSE;
    gchar **files = nullptr;
    const GOptionEntry entries[] = {
        {"scale", 's', 0, G_OPTION_ARG_DOUBLE, &scale, "Show at this scale instead of fitting "
         "the screen", "F"},
        {"snapshot", 0, 0, G_OPTION_ARG_FILENAME, &snapshot, "Write the window to OUT.png once "
         "it is shown, then exit", "OUT.png"},
        {"after", 0, 0, G_OPTION_ARG_INT, &after, "With --snapshot: wait until the N-th frame "
         "of an animation is shown (default 1)", "N"},
        {"display", 0, 0, G_OPTION_ARG_STRING, &display, "X display to use", "DISPLAY"},
        {"version", 0, 0, G_OPTION_ARG_NONE, &version, "Print the version and exit", nullptr},
        {G_OPTION_REMAINING, 0, 0, G_OPTION_ARG_FILENAME_ARRAY, &files, nullptr, nullptr},
        {nullptr, 0, 0, G_OPTION_ARG_NONE, nullptr, nullptr, nullptr}};
    std::unique_ptr<GOptionContext, ContextFree> context (g_option_context_new ("FILE..."));
    g_option_context_set_summary (
        context.get (),
        "Shows images and animations in an X window.\n\n"
        "Keys: q or Escape quits, space pauses or resumes an animation, n and p go to the next\n"
        "and previous file, + and - zoom in and out.");
    g_option_context_add_main_entries (context.get (), entries, nullptr);
    GError *error = nullptr;
    const bool parsed = g_option_context_parse (context.get (), &argc, &argv, &error);
    std::unique_ptr<gchar *, StrvFree> file_list (files);
    std::unique_ptr<gchar, decltype (&g_free)> snapshot_path (snapshot, &g_free);
    std::unique_ptr<gchar, decltype (&g_free)> display_name (display, &g_free);
    if (!parsed) {
        std::fprintf (stderr, "%s: %s\n", kProgram, error->message);
        g_error_free (error);
        return kUsageError;
    }
    if (version) {
        std::printf ("%s %s\n", kProgram, tamba_version);
        return 0;
    }
    const char *usage_error = nullptr;
    if (!files || !files[0]) usage_error = "no file given";
    else if (!std::isnan (scale) && !(scale > 0)) usage_error = "--scale must be positive";
    else if (after < 1) usage_error = "--after counts frames from 1";
    if (usage_error) {
        std::fprintf (stderr, "%s: %s (see --help)\n", kProgram, usage_error);
        return kUsageError;
    }

    if (!open_display (display)) return 1;

    std::vector<ViewFile> shown;
    for (gchar **f = files; *f; ++f)
        if (std::unique_ptr<Player> p = load (*f)) shown.push_back ({*f, std::move (p)});
    if (shown.empty ()) return 1;

    ViewOptions options;
    options.scale = std::isnan (scale) ? 0 : scale;
    options.snapshot = snapshot;
    options.after = after;
    return run_viewer (shown, options);
}
