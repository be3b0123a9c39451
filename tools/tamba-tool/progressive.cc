// SPDX-License-Identifier: LGPL-2.1-or-later
// progressive: a file fed to the progressive loader in pieces, each signal printed as it comes.
#include <algorithm>
#include <cstdio>
#include <string>

#include "tool.h"

namespace tamba::tool {

namespace {

void on_area_prepared (TambaLoader *loader, gpointer)
{
    const Tamba *image = tamba_loader_get_tamba (loader);
    std::printf ("area_prepared %dx%d\n", image ? image->width : 0, image ? image->height : 0);
}

void on_area_updated (TambaLoader *, gint x, gint y, gint width, gint height, gpointer)
{
    std::printf ("area_updated %d,%d,%d,%d\n", x, y, width, height);
}

void on_frame_done (TambaLoader *, TambaFrame *frame, gpointer)
{
    std::printf ("frame_done %d,%d %dx%d %d %s\n", frame->x_offset, frame->y_offset,
                 frame->tamba->width, frame->tamba->height, frame->delay_time,
                 action_name (frame->action));
}

void on_animation_done (TambaLoader *, gpointer)
{
    std::printf ("animation_done\n");
}

void on_closed (TambaLoader *, gpointer)
{
    std::printf ("closed\n");
}

}  // namespace

Loader feed_loader (const char *filename, size_t piece, bool print_signals, std::string *error)
{
    if (!probe_file (filename, error)) return nullptr;
    std::string bytes;
    if (!read_file (filename, &bytes, error)) return nullptr;

    Loader loader (tamba_loader_new ());
    if (print_signals) {
        g_signal_connect (loader.get (), "area_prepared", G_CALLBACK (on_area_prepared), nullptr);
        g_signal_connect (loader.get (), "area_updated", G_CALLBACK (on_area_updated), nullptr);
        g_signal_connect (loader.get (), "frame_done", G_CALLBACK (on_frame_done), nullptr);
        g_signal_connect (loader.get (), "animation_done", G_CALLBACK (on_animation_done),
                          nullptr);
        g_signal_connect (loader.get (), "closed", G_CALLBACK (on_closed), nullptr);
    }
    take_log_message ();
    bool refused = false;
    const auto *data = reinterpret_cast<const guchar *> (bytes.data ());
    for (size_t at = 0; at < bytes.size () && !refused; at += piece) {
        const size_t n = std::min (piece, bytes.size () - at);
        refused = !tamba_loader_write (loader.get (), data + at, n);
    }
    // A refused write still closes: the signals a close emits are part of the record.
    std::string warning = refused ? decode_failure () : std::string ();
    tamba_loader_close (loader.get ());
    if (!refused && !tamba_loader_get_tamba (loader.get ())) warning = decode_failure ();
    take_log_message ();
    if (!warning.empty ()) {
        *error = warning;
        return nullptr;
    }
    return loader;
}

int run_progressive (int argc, char **argv)
{
    int piece = 4096;
    const GOptionEntry entries[] = {
        {"piece", 'p', 0, G_OPTION_ARG_INT, &piece, "Bytes per write (default 4096)", "N"},
        {nullptr, 0, 0, G_OPTION_ARG_NONE, nullptr, nullptr, nullptr},
    };
    OptionContext context = make_context (
        "FILE", "Feed FILE to the progressive loader in pieces and print each signal as it is "
        "emitted: area_prepared WxH, area_updated x,y,w,h, frame_done x,y WxH delay action, "
        "animation_done, closed.", entries);
    if (!parse_options (context.get (), &argc, &argv)) return kExitUsage;
    if (argc != 2) return usage_error ("expected exactly one file");
    if (piece < 1) return usage_error ("--piece must be at least 1");

    std::string error;
    Loader loader = feed_loader (argv[1], size_t (piece), true, &error);
    std::fflush (stdout);
    if (!loader) {
        report (argv[1], error);
        return kExitFailed;
    }
    return kExitOk;
}

}  // namespace tamba::tool
