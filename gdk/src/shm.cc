// SPDX-License-Identifier: LGPL-2.1-or-later
// MIT-SHM for GdkRGB: one shared segment the server reads whole images from, instead of
// receiving them through the socket. Any failure turns XShm off for the process, silently, and
// drawing falls back to plain XPutImage.
#include "private.h"

#include <X11/extensions/XShm.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <cerrno>

namespace {

constexpr size_t kMaxSegment = size_t (64) << 20;  // larger pictures go the plain way

struct Segment {
    XShmSegmentInfo info{};
    size_t size = 0;
    bool attached = false;
    bool busy = false;  // the server may not have read it yet
};

Segment segment;
bool checked = false;
bool available = false;  // the server has the extension

void release ()
{
    if (!segment.attached) return;
    XShmDetach (gdk_display, &segment.info);
    XSync (gdk_display, False);
    shmdt (segment.info.shmaddr);
    segment = Segment{};
}

bool attach (size_t size)
{
    const int id = shmget (IPC_PRIVATE, size, IPC_CREAT | 0600);
    if (id < 0) {
        // Limits and sandboxes refusing shared memory are expected; anything else is worth a word.
        if (errno != ENOMEM && errno != ENOSPC && errno != EINVAL && errno != EACCES
            && errno != EPERM && errno != ENOSYS)
            g_log (GDK_LOG_DOMAIN, G_LOG_LEVEL_WARNING, "shmget failed: %s", g_strerror (errno));
        return false;
    }
    void *addr = shmat (id, nullptr, 0);
    if (addr == reinterpret_cast<void *> (-1)) {
        shmctl (id, IPC_RMID, nullptr);
        return false;
    }
    segment.info.shmid = id;
    segment.info.shmaddr = static_cast<char *> (addr);
    segment.info.readOnly = True;
    gdk_error_trap_push ();
    XShmAttach (gdk_display, &segment.info);
    XSync (gdk_display, False);
    const int error = gdk_error_trap_pop ();
    // Marked for removal now, so the segment goes with the last detach, even on a crash.
    shmctl (id, IPC_RMID, nullptr);
    if (error) {
        shmdt (addr);
        segment = Segment{};
        return false;
    }
    segment.size = size;
    segment.attached = true;
    return true;
}

}  // namespace

namespace gdkl {

guchar *shm_buffer (size_t size)
{
    if (!gdk_get_use_xshm () || size > kMaxSegment) return nullptr;
    if (!checked) {
        checked = true;
        int major, minor;
        Bool pixmaps;
        available = XShmQueryExtension (gdk_display)
                    && XShmQueryVersion (gdk_display, &major, &minor, &pixmaps);
    }
    if (!available) {
        gdk_set_use_xshm (FALSE);
        return nullptr;
    }
    if (segment.busy) {
        // The server must have read the last picture before it is overwritten.
        XSync (gdk_display, False);
        segment.busy = false;
    }
    if (segment.size < size) {
        release ();
        if (!attach (size)) {
            gdk_set_use_xshm (FALSE);
            return nullptr;
        }
    }
    return reinterpret_cast<guchar *> (segment.info.shmaddr);
}

void shm_put (Drawable d, GC gc, XImage *image, int x, int y, unsigned width, unsigned height)
{
    image->obdata = reinterpret_cast<char *> (&segment.info);
    XShmPutImage (gdk_display, d, gc, image, 0, 0, x, y, width, height, False);
    segment.busy = true;
}

}  // namespace gdkl
