// SPDX-License-Identifier: LGPL-2.1-or-later
// Opening the display, command-line options, X error handling and traps.
#include "private.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

extern "C" {
Display *gdk_display = nullptr;
gint gdk_screen = 0;
Window gdk_root_window = 0;
}

namespace {

char *display_name = nullptr;  // from --display, g_strdup'ed; NULL means $DISPLAY
bool use_xshm = true;
bool synchronize = false;

// The error trap stack: each level keeps the code that was current when it was pushed.
std::vector<int> trap_stack;
int trap_code = 0;

int on_x_error (Display *display, XErrorEvent *error)
{
    if (!trap_stack.empty ()) {
        trap_code = error->error_code;
        return 0;
    }
    char text[256];
    XGetErrorText (display, error->error_code, text, sizeof text);
    std::fprintf (stderr, "Gdk-ERROR **: %s serial %lu error_code %d request_code %d minor_code %d\n",
                  text, error->serial, error->error_code, error->request_code, error->minor_code);
    std::exit (1);
}

int on_x_io_error (Display *display)
{
    std::fprintf (stderr, "Gdk-ERROR **: X connection to %s broken\n", DisplayString (display));
    std::exit (1);
}

// Removes argv[i] .. argv[i + n - 1].
void drop_args (gint *argc, gchar **argv, int i, int n)
{
    for (int j = i; j + n <= *argc; ++j) argv[j] = argv[j + n];
    *argc -= n;
}

void take_options (gint *argc, gchar ***argvp)
{
    if (!argc || !argvp || !*argvp) return;
    gchar **argv = *argvp;
    for (int i = 1; i < *argc;) {
        const char *a = argv[i];
        if (std::strcmp (a, "--display") == 0 && i + 1 < *argc) {
            g_free (display_name);
            display_name = g_strdup (argv[i + 1]);
            drop_args (argc, argv, i, 2);
        } else if (std::strncmp (a, "--display=", 10) == 0) {
            g_free (display_name);
            display_name = g_strdup (a + 10);
            drop_args (argc, argv, i, 1);
        } else if (std::strcmp (a, "--sync") == 0) {
            synchronize = true;
            drop_args (argc, argv, i, 1);
        } else if (std::strcmp (a, "--no-xshm") == 0) {
            use_xshm = false;
            drop_args (argc, argv, i, 1);
        } else {
            ++i;
        }
    }
}

}  // namespace

namespace gdkl {

void precondition_failed (const char *file, int line, const char *func, const char *text)
{
    g_log (GDK_LOG_DOMAIN, G_LOG_LEVEL_CRITICAL, "file %s: line %d (%s): assertion `%s' failed.",
           file, line, func, text);
}

}  // namespace gdkl

extern "C" gboolean gdk_init_check (gint *argc, gchar ***argv)
{
    take_options (argc, argv);
    if (gdk_display) return TRUE;
    Display *display = XOpenDisplay (display_name);
    if (!display) return FALSE;
    gdk_display = display;
    XSetErrorHandler (on_x_error);
    XSetIOErrorHandler (on_x_io_error);
    if (synchronize) XSynchronize (display, True);
    gdk_screen = DefaultScreen (display);
    gdk_root_window = RootWindow (display, gdk_screen);
    gdkl::visuals_init ();
    gdkl::root_init ();
    return TRUE;
}

extern "C" void gdk_init (gint *argc, gchar ***argv)
{
    if (gdk_init_check (argc, argv)) return;
    g_warning ("cannot open display: %s", gdk_get_display ());
    std::exit (1);
}

extern "C" gchar *gdk_get_display (void)
{
    return XDisplayName (display_name);
}

extern "C" void gdk_flush (void)
{
    GDKL_NEED_DISPLAY ();
    XSync (gdk_display, False);
}

extern "C" gint gdk_screen_width (void)
{
    GDKL_NEED_DISPLAY_VAL (0);
    return DisplayWidth (gdk_display, gdk_screen);
}

extern "C" gint gdk_screen_height (void)
{
    GDKL_NEED_DISPLAY_VAL (0);
    return DisplayHeight (gdk_display, gdk_screen);
}

extern "C" void gdk_error_trap_push (void)
{
    trap_stack.push_back (trap_code);
    trap_code = 0;
}

extern "C" gint gdk_error_trap_pop (void)
{
    GDKL_RETURN_VAL_IF_FAIL (!trap_stack.empty (), "error trap stack not empty", 0);
    const int code = trap_code;
    trap_code = trap_stack.back ();
    trap_stack.pop_back ();
    return code;
}

extern "C" void gdk_set_use_xshm (gboolean value)
{
    use_xshm = value;
}

extern "C" gboolean gdk_get_use_xshm (void)
{
    return use_xshm;
}
