// SPDX-License-Identifier: LGPL-2.1-or-later
// Allocation failure: this executable interposes malloc, calloc, realloc and the aligned forms,
// and fails the n-th request made by anything but GLib (whose own allocations abort by design),
// the dynamic loader and the test itself, for n = 1, 2, ... until a run makes no more requests
// than that. Each run of loading (every sample, whole-file and progressive), saving and scaling
// must end in NULL/FALSE or in the very result of a run without failures, and free everything
// it allocated.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <link.h>
#include <malloc.h>

#include <array>
#include <atomic>
#include <cstring>
#include <functional>
#include <string>

#include "modules.h"
#include "tamba/tamba.h"

extern "C" {
void *__libc_malloc (size_t);
void *__libc_calloc (size_t, size_t);
void *__libc_realloc (void *, size_t);
void *__libc_memalign (size_t, size_t);
void __libc_free (void *);
}

namespace {

// Requests still to pass before one fails (0: none is counted); failures so far.
std::atomic<long> g_countdown {0};
std::atomic<long> g_failed {0};
thread_local bool t_inside = false;

// Live blocks from counted callers, in a fixed table (the interposer may not allocate).
constexpr size_t kSlots = 1 << 16;
std::array<std::atomic<void *>, kSlots> g_live {};
std::atomic<long> g_live_count {0};

bool spared (const void *caller)
{
    Dl_info info;
    if (!dladdr (caller, &info) || !info.dli_fname) return true;
    static const void *self_base = [] {
        Dl_info me;
        dladdr (reinterpret_cast<const void *> (&spared), &me);
        return me.dli_fbase;
    }();
    if (info.dli_fbase == self_base) return true;
    const char *name = std::strrchr (info.dli_fname, '/');
    name = name ? name + 1 : info.dli_fname;
    for (const char *lib : {"libglib-2.0", "libgobject-2.0", "libgmodule-2.0", "ld-linux", "libc.so"})
        if (std::strncmp (name, lib, std::strlen (lib)) == 0) return true;
    return false;
}

// True when this request is to fail; counted requests that pass are remembered in g_live.
bool should_fail (const void *caller)
{
    if (g_countdown.load () == 0 || t_inside) return false;
    t_inside = true;
    const bool counted = !spared (caller);
    t_inside = false;
    if (!counted) return false;
    if (g_countdown.fetch_sub (1) == 1) {
        ++g_failed;
        g_countdown = -1;  // one failure per run; later requests are still counted
        return true;
    }
    if (g_countdown.load () <= 0) g_countdown = -1;
    return false;
}

// Open addressing; a freed slot becomes a tombstone so that later entries of its chain are found.
void *const kTombstone = reinterpret_cast<void *> (1);

void remember (void *p)
{
    if (!p) return;
    for (size_t i = (reinterpret_cast<uintptr_t> (p) >> 4) % kSlots;; i = (i + 1) % kSlots) {
        void *expected = nullptr;
        if (g_live[i].compare_exchange_strong (expected, p)) break;
    }
    ++g_live_count;
}

void forget (void *p)
{
    if (!p || g_live_count.load () == 0) return;
    for (size_t i = (reinterpret_cast<uintptr_t> (p) >> 4) % kSlots, n = 0; n < kSlots; i = (i + 1) % kSlots, ++n) {
        void *expected = p;
        if (g_live[i].compare_exchange_strong (expected, kTombstone)) {
            --g_live_count;
            return;
        }
        if (!expected) return;  // never remembered
    }
}

void clear_live ()
{
    for (auto &slot : g_live) slot = nullptr;
    g_live_count = 0;
}

bool counting () { return g_countdown.load () != 0 && !t_inside; }

}  // namespace

extern "C" {
void *malloc (size_t n)
{
    if (!counting ()) return __libc_malloc (n);
    if (should_fail (__builtin_return_address (0))) return nullptr;
    void *p = __libc_malloc (n);
    if (!spared (__builtin_return_address (0))) remember (p);
    return p;
}
void *calloc (size_t n, size_t size)
{
    if (!counting ()) return __libc_calloc (n, size);
    if (should_fail (__builtin_return_address (0))) return nullptr;
    void *p = __libc_calloc (n, size);
    if (!spared (__builtin_return_address (0))) remember (p);
    return p;
}
void *realloc (void *old, size_t n)
{
    if (!counting ()) return __libc_realloc (old, n);
    if (should_fail (__builtin_return_address (0))) return nullptr;
    void *p = __libc_realloc (old, n);
    if (p) {
        forget (old);
        if (!spared (__builtin_return_address (0))) remember (p);
    }
    return p;
}
void free (void *p)
{
    forget (p);
    __libc_free (p);
}
int posix_memalign (void **out, size_t align, size_t n)
{
    if (counting () && should_fail (__builtin_return_address (0))) return ENOMEM;
    *out = __libc_memalign (align, n);
    if (counting () && !spared (__builtin_return_address (0))) remember (*out);
    return *out ? 0 : ENOMEM;
}
void *aligned_alloc (size_t align, size_t n)
{
    if (counting () && should_fail (__builtin_return_address (0))) return nullptr;
    void *p = __libc_memalign (align, n);
    if (counting () && !spared (__builtin_return_address (0))) remember (p);
    return p;
}
}

namespace tamba::test {
namespace {

using Run = std::function<ImagePtr ()>;

// Runs op with the n-th counted request failing, n = 1, 2, ... until a run fails none; each
// result is NULL or the unfailed run's, and no counted block outlives a run.
void fail_each_request (const std::string &what, const Run &op)
{
    const ImagePtr want = op ();  // also does what happens once per process (modules, tables)
    ASSERT_NE (want, nullptr) << what;
    for (long n = 1;; ++n) {
        g_failed = 0;
        g_countdown = n;
        ImagePtr got = op ();
        g_countdown = 0;
        const bool failed = g_failed.load () > 0;
        if (got) {
            EXPECT_EQ (compare_images (got.get (), want.get ()), "") << what << ", request " << n;
        }
        got.reset ();
        ASSERT_EQ (g_live_count.load (), 0) << what << ": a block leaked when request " << n << " failed";
        clear_live ();
        if (!failed) {
            EXPECT_GT (n, 1) << what << " made no request that could fail";
            break;
        }
    }
}

std::string sample (const char *name) { return std::string (TAMBA_SAMPLES_DIR) + "/" + name; }

constexpr const char *kSamples[] = {"badge.png", "bars.bmp", "bounce.gif", "disc.ico", "flower.xpm",
                                    "pattern.xbm", "photo.jpg", "stripes.ras", "tiles.tiff", "wheel.ppm"};

TEST (AllocationFailure, LoadingWholeAndProgressive)
{
    for (const char *name : kSamples) {
        const std::string path = sample (name);
        fail_each_request (std::string (name) + " whole", [&] { return ImagePtr (tamba_new_from_file (path.c_str ())); });
        const Bytes bytes = read_file (path);
        fail_each_request (std::string (name) + " progressive", [&] {
            TambaLoader *loader = tamba_loader_new ();
            bool ok = true;
            for (size_t off = 0; off < bytes.size () && ok; off += 4096)
                ok = tamba_loader_write (loader, bytes.data () + off, std::min<size_t> (4096, bytes.size () - off));
            tamba_loader_close (loader);
            Tamba *image = ok ? tamba_loader_get_tamba (loader) : nullptr;
            if (image) tamba_ref (image);
            g_object_unref (loader);
            return ImagePtr (image);
        });
    }
}

TEST (AllocationFailure, SavingAndScaling)
{
    const ImagePtr photo (tamba_new_from_file (sample ("badge.png").c_str ()));
    ASSERT_NE (photo, nullptr);
    const std::string out = std::string (g_get_tmp_dir ()) + "/tamba-allocation-failure";
    for (const char *format : {"png", "bmp", "pnm", "jpeg"})
        fail_each_request (std::string ("saving ") + format, [&] {
            return tamba_save (photo.get (), out.c_str (), format) ? ImagePtr (tamba_copy (photo.get ())) : nullptr;
        });
    for (int interp = 0; interp < 4; ++interp) {
        fail_each_request ("scaling", [&] { return ImagePtr (tamba_scale_simple (photo.get (), 37, 91, GdkInterpType (interp))); });
        fail_each_request ("compositing", [&] {
            return ImagePtr (tamba_composite_color_simple (photo.get (), 300, 41, GdkInterpType (interp), 200, 8, 0x808080, 0xffffff));
        });
    }
    std::remove (out.c_str ());
}

}  // namespace
}  // namespace tamba::test
