// SPDX-License-Identifier: LGPL-2.1-or-later
#include "viewer.h"

#include "look.h"
#include "messages.h"

#include <gdk/gdk.h>
#include <gdk/gdkx.h>

#include <X11/Xutil.h>
#include <X11/keysym.h>

#include <algorithm>
#include <cmath>
#include <poll.h>

namespace tamba::view {

namespace {

constexpr double kZoomStep = 1.25;
constexpr int kMaxSide = 16384;  // the largest view side zooming may reach
constexpr double kScreenShare = 0.9;  // room left for window decorations when fitting

struct Rect {
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    bool empty () const { return x0 >= x1 || y0 >= y1; }
    void add (int x, int y, int w, int h)
    {
        if (empty ()) *this = {x, y, x + w, y + h};
        else *this = {std::min (x0, x), std::min (y0, y), std::max (x1, x + w), std::max (y1, y + h)};
    }
};

class Viewer {
public:
    Viewer (std::vector<ViewFile> &files, const ViewOptions &options)
        : files_ (files), options_ (options), dpy_ (GDK_DISPLAY ())
    {
    }
    ~Viewer ()
    {
        if (gc_) gdk_gc_unref (gc_);
        if (window_) gdk_window_destroy (window_);
    }
    Viewer (const Viewer &) = delete;
    Viewer &operator= (const Viewer &) = delete;

    int run ();

private:
    Player &player () { return *files_[index_].player; }
    // How long the current frame stays, in microseconds.
    gint64 frame_us () { return player ().delay () * gint64 (10000); }
    bool open_window ();
    bool show_file (size_t index);
    bool set_scale (double scale);
    void draw (Rect r);
    void draw_all () { draw ({0, 0, view_->width, view_->height}); }
    void next_frame ();
    void handle (XEvent &ev);
    void key (KeySym sym);
    int snapshot ();

    std::vector<ViewFile> &files_;
    const ViewOptions &options_;
    Display *dpy_;
    GdkWindow *window_ = nullptr;
    GdkGC *gc_ = nullptr;
    Window xid_ = 0;
    Atom wm_protocols_ = 0, wm_delete_ = 0;

    size_t index_ = 0;
    double scale_ = 1;
    Image view_;          // what the window shows, at the window's scale
    Rect damage_;         // exposed and not yet redrawn
    bool exposed_ = false;
    bool paused_ = false;
    bool running_ = true;
    int shown_ = 0;       // frames of the current file shown since it was opened
    gint64 next_frame_us_ = 0;
};

double fit_scale (const Tamba *canvas)
{
    const double sx = kScreenShare * gdk_screen_width () / canvas->width;
    const double sy = kScreenShare * gdk_screen_height () / canvas->height;
    return std::min ({1.0, sx, sy});
}

int scaled (int side, double scale)
{
    return std::clamp (int (std::lround (side * scale)), 1, kMaxSide);
}

std::string title (const std::string &name)
{
    return std::string (kProgram) + ": " + name;
}

bool Viewer::open_window ()
{
    std::string name = title (files_[index_].name);
    GdkWindowAttr attr{};
    attr.title = name.data ();
    attr.x = attr.y = 0;
    static_assert (kMaxSide <= G_MAXINT16);
    attr.width = gint16 (view_->width);
    attr.height = gint16 (view_->height);
    attr.wclass = GDK_INPUT_OUTPUT;
    attr.visual = gdk_rgb_get_visual ();
    attr.colormap = gdk_rgb_get_cmap ();
    attr.window_type = GDK_WINDOW_TOPLEVEL;
    window_ = gdk_window_new (nullptr, &attr,
                              GDK_WA_TITLE | GDK_WA_X | GDK_WA_Y | GDK_WA_VISUAL | GDK_WA_COLORMAP);
    if (!window_) return false;
    gc_ = gdk_gc_new (window_);
    xid_ = GDK_WINDOW_XWINDOW (window_);
    XSelectInput (dpy_, xid_, ExposureMask | KeyPressMask | StructureNotifyMask);
    wm_protocols_ = XInternAtom (dpy_, "WM_PROTOCOLS", False);
    wm_delete_ = XInternAtom (dpy_, "WM_DELETE_WINDOW", False);
    XSetWMProtocols (dpy_, xid_, &wm_delete_, 1);
    return gc_ != nullptr;
}

// Rebuilds the view of the current canvas at scale; false (nothing changed) when it cannot.
bool Viewer::set_scale (double scale)
{
    const Tamba *canvas = player ().canvas ();
    // Zooming stops where the longer side would pass kMaxSide, keeping the aspect ratio.
    scale = std::min (scale, double (kMaxSide) / std::max (canvas->width, canvas->height));
    Image view (view_image (canvas, scaled (canvas->width, scale), scaled (canvas->height, scale)));
    if (!view) return false;
    const bool resized = !view_ || view->width != view_->width || view->height != view_->height;
    view_ = std::move (view);
    scale_ = scale;
    if (window_ && resized)
        XResizeWindow (dpy_, xid_, unsigned (view_->width), unsigned (view_->height));
    return true;
}

bool Viewer::show_file (size_t index)
{
    const size_t old = index_;
    index_ = index;
    const double scale = options_.scale > 0 ? options_.scale : fit_scale (player ().canvas ());
    if (!set_scale (scale)) {
        report (files_[index].name, "not enough memory to show it");
        index_ = old;
        return false;
    }
    if (window_) XStoreName (dpy_, xid_, title (files_[index_].name).c_str ());
    shown_ = exposed_ ? 1 : 0;
    next_frame_us_ = g_get_monotonic_time () + frame_us ();
    if (exposed_) draw_all ();
    return true;
}

void Viewer::draw (Rect r)
{
    r = {std::max (r.x0, 0), std::max (r.y0, 0), std::min (r.x1, view_->width),
         std::min (r.y1, view_->height)};
    if (r.empty ()) return;
    // Dithering follows window coordinates (offsets 0), so partial redraws match the rest.
    tamba_render_to_drawable (view_.get (), window_, gc_, r.x0, r.y0, r.x0, r.y0, r.x1 - r.x0,
                              r.y1 - r.y0, GDK_RGB_DITHER_NORMAL, 0, 0);
}

void Viewer::next_frame ()
{
    player ().advance ();
    const Tamba *canvas = player ().canvas ();
    if (Image view {view_image (canvas, view_->width, view_->height)}) view_ = std::move (view);
    draw_all ();
    ++shown_;
    // A late frame does not make the following ones hurry to catch up.
    const gint64 now = g_get_monotonic_time (), delay = frame_us ();
    next_frame_us_ = next_frame_us_ + delay < now ? now + delay : next_frame_us_ + delay;
}

void Viewer::key (KeySym sym)
{
    switch (sym) {
    case XK_q:
    case XK_Q:
    case XK_Escape:
        running_ = false;
        break;
    case XK_space:
        paused_ = !paused_;
        if (!paused_) next_frame_us_ = g_get_monotonic_time () + frame_us ();
        break;
    case XK_n:
    case XK_Page_Down:
        show_file ((index_ + 1) % files_.size ());
        break;
    case XK_p:
    case XK_Page_Up:
        show_file ((index_ + files_.size () - 1) % files_.size ());
        break;
    case XK_plus:
    case XK_equal:
    case XK_KP_Add:
        if (set_scale (scale_ * kZoomStep)) draw_all ();
        break;
    case XK_minus:
    case XK_KP_Subtract:
        if (set_scale (scale_ / kZoomStep)) draw_all ();
        break;
    default:
        break;
    }
}

void Viewer::handle (XEvent &ev)
{
    switch (ev.type) {
    case Expose:
        damage_.add (ev.xexpose.x, ev.xexpose.y, ev.xexpose.width, ev.xexpose.height);
        if (ev.xexpose.count > 0) break;
        if (!exposed_) {
            // The first exposure shows the first frame, and the animation's clock starts.
            exposed_ = true;
            shown_ = 1;
            next_frame_us_ = g_get_monotonic_time () + frame_us ();
            damage_ = {0, 0, view_->width, view_->height};
        }
        draw (damage_);
        damage_ = {};
        break;
    case KeyPress: {
        char text[8];
        KeySym sym = NoSymbol;
        XLookupString (&ev.xkey, text, sizeof text, &sym, nullptr);
        key (sym);
        break;
    }
    case ClientMessage:
        if (ev.xclient.message_type == wm_protocols_ && ev.xclient.format == 32
            && Atom (ev.xclient.data.l[0]) == wm_delete_)
            running_ = false;
        break;
    case DestroyNotify:
        running_ = false;
        break;
    default:
        break;
    }
}

int Viewer::snapshot ()
{
    const std::string out = options_.snapshot;
    XSync (dpy_, False);
    // Only the part of the window that is on the screen can be read back.
    gint ox = 0, oy = 0;
    gdk_window_get_origin (window_, &ox, &oy);
    const int w = std::min (view_->width, gdk_screen_width () - std::max (ox, 0));
    const int h = std::min (view_->height, gdk_screen_height () - std::max (oy, 0));
    Image shot;
    {
        WarningCatcher caught;
        if (w > 0 && h > 0)
            shot.reset (tamba_get_from_drawable (nullptr, window_, nullptr, 0, 0, 0, 0, w, h));
        if (!shot) {
            report (out, caught.first ().empty () ? "cannot capture the window" : caught.first ());
            return 1;
        }
    }
    WarningCatcher caught;
    if (!tamba_save (shot.get (), out.c_str (), "png")) {
        report (out, caught.first ().empty () ? "cannot save the snapshot" : caught.first ());
        return 1;
    }
    return 0;
}

int Viewer::run ()
{
    if (!show_file (0)) return 1;
    if (!open_window ()) {
        report (files_[0].name, "cannot create a window");
        return 1;
    }
    gdk_window_show (window_);

    const bool wants_frames = options_.snapshot && player ().animated ();
    while (running_) {
        while (running_ && XPending (dpy_)) {
            XEvent ev;
            XNextEvent (dpy_, &ev);
            handle (ev);
        }
        if (!running_) break;
        if (options_.snapshot && exposed_ && (!wants_frames || shown_ >= options_.after))
            return snapshot ();

        int timeout_ms = -1;
        if (exposed_ && player ().animated () && !paused_) {
            const gint64 now = g_get_monotonic_time ();
            if (now >= next_frame_us_) {
                next_frame ();
                continue;
            }
            timeout_ms = int ((next_frame_us_ - now + 999) / 1000);
        }
        // XPending flushes the requests and reads what has arrived; a plain XFlush can also
        // move an arriving event into the queue, where poll would never see it.
        if (XPending (dpy_)) continue;
        pollfd p{ConnectionNumber (dpy_), POLLIN, 0};
        poll (&p, 1, timeout_ms);
    }
    return 0;
}

}  // namespace

int run_viewer (std::vector<ViewFile> &files, const ViewOptions &options)
{
    Viewer viewer (files, options);
    return viewer.run ();
}

}  // namespace tamba::view
