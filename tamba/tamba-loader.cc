// SPDX-License-Identifier: LGPL-2.1-or-later
// The progressive loader: a GObject that collects the first bytes of an image, recognises its
// format, starts the format module's progressive entry points and turns the module's callbacks
// into signals.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <utility>

#include "tamba-loading.h"
#include "tamba-private.h"

namespace {

using tamba::detail::kHeaderSize;

struct TambaLoaderPrivate {
    Tamba *tamba;                 // the image being loaded; the loader holds one reference
    TambaAnimation *animation;    // finished frames; the loader holds the only reference
    gboolean closed;
    guchar header_buf[kHeaderSize];
    int header_buf_offset;
    TambaModule *image_module;    // the recognised format, once chosen
    gpointer context;             // the module's, between a successful start and the stop
};

enum {
    kAreaUpdated,
    kAreaPrepared,
    kFrameDone,
    kAnimationDone,
    kClosed,
    kLastSignal
};
guint tamba_loader_signals[kLastSignal];

TambaLoaderPrivate *private_of (TambaLoader *loader)
{
    return static_cast<TambaLoaderPrivate *> (loader->priv);
}

// Every loader that exists. A module hands the loader back as its callbacks' user data; one that
// calls back after its loader is gone is refused here instead of emitting on freed memory.
G_LOCK_DEFINE_STATIC (live_loaders);
GHashTable *live_loaders;

void set_live (TambaLoader *loader, bool live)
{
    G_LOCK (live_loaders);
    if (!live_loaders) live_loaders = g_hash_table_new (g_direct_hash, g_direct_equal);
    if (live)
        g_hash_table_add (live_loaders, loader);
    else
        g_hash_table_remove (live_loaders, loader);
    G_UNLOCK (live_loaders);
}

bool is_live (gpointer loader)
{
    G_LOCK (live_loaders);
    const bool live = live_loaders && g_hash_table_contains (live_loaders, loader);
    G_UNLOCK (live_loaders);
    return live;
}

// A signal handler may drop the caller's last reference while the module is running.
class KeepAlive {
public:
    explicit KeepAlive (TambaLoader *loader) : loader_ (loader) { g_object_ref (loader_); }
    ~KeepAlive () { g_object_unref (loader_); }
    KeepAlive (const KeepAlive &) = delete;
    KeepAlive &operator= (const KeepAlive &) = delete;

private:
    TambaLoader *loader_;
};

// The loader a module's callback is for, or NULL (with a critical message) when that loader no
// longer exists or was closed: callbacks after the module was stopped change nothing.
TambaLoader *callback_target (gpointer user_data)
{
    TAMBA_RETURN_VAL_IF_FAIL (is_live (user_data), "GDK_IS_TAMBA_LOADER (loader)", nullptr);
    auto *loader = static_cast<TambaLoader *> (user_data);
    TAMBA_RETURN_VAL_IF_FAIL (private_of (loader)->closed == FALSE, "priv->closed == FALSE",
                              nullptr);
    return loader;
}

// The size an animation needs to show the frame's image at its offsets. Offsets come from the
// module, so the sums are formed wide and saturated.
bool frame_extent (const TambaFrame *frame, int *width, int *height)
{
    if (!frame->tamba) return false;
    const auto extent = [] (int size, int offset) {
        return int (std::clamp<std::int64_t> (std::int64_t (size) + offset, G_MININT, G_MAXINT));
    };
    *width = extent (frame->tamba->width, frame->x_offset);
    *height = extent (frame->tamba->height, frame->y_offset);
    return true;
}

void cover_frame (TambaAnimation *animation, const TambaFrame *frame)
{
    int width, height;
    if (!frame_extent (frame, &width, &height)) return;
    animation->width = std::max (animation->width, width);
    animation->height = std::max (animation->height, height);
}

void tamba_loader_prepare (Tamba *tamba, gpointer user_data)
{
    TambaLoader *loader = callback_target (user_data);
    if (!loader || !tamba_ref (tamba)) return;
    TambaLoaderPrivate *priv = private_of (loader);
    // A second image before the first was handed over as a frame is a broken module.
    TAMBA_ASSERT (priv->tamba == nullptr, "priv->tamba == NULL");
    priv->tamba = tamba;
    g_signal_emit (loader, tamba_loader_signals[kAreaPrepared], 0);
}

// Keeps [pos, pos + len) inside [0, limit): handlers redraw the reported area straight from the
// pixels, so it must never reach outside the image. An area wholly outside becomes empty.
void clip_span (guint *pos, guint *len, int limit)
{
    if (limit <= 0) {
        *pos = 0;
        *len = 0;
    } else if (*pos >= guint (limit)) {
        *pos = guint (limit) - 1;
        *len = 0;
    } else if (*len > guint (limit) - *pos) {
        *len = guint (limit) - *pos;
    }
}

void tamba_loader_update (Tamba *, guint x, guint y, guint width, guint height,
                          gpointer user_data)
{
    TambaLoader *loader = callback_target (user_data);
    if (!loader) return;
    TambaLoaderPrivate *priv = private_of (loader);
    // Before any prepare these report the missing image and the area passes unchanged.
    const int image_width = tamba_get_width (priv->tamba);
    const int image_height = tamba_get_height (priv->tamba);
    if (priv->tamba) {
        clip_span (&x, &width, image_width);
        clip_span (&y, &height, image_height);
    }
    g_signal_emit (loader, tamba_loader_signals[kAreaUpdated], 0, gint (x), gint (y),
                   gint (width), gint (height));
}

// The frame takes over the reference the loader took at prepare; a refused frame stays the
// module's.
void tamba_loader_frame_done (TambaFrame *frame, gpointer user_data)
{
    TambaLoader *loader = callback_target (user_data);
    if (!loader) return;
    TAMBA_RETURN_IF_FAIL (frame != nullptr, "frame != NULL");
    TambaLoaderPrivate *priv = private_of (loader);
    priv->tamba = nullptr;

    if (!priv->animation) {
        priv->animation = static_cast<TambaAnimation *> (g_malloc0 (sizeof (TambaAnimation)));
        priv->animation->ref_count = 1;
        frame_extent (frame, &priv->animation->width, &priv->animation->height);
    } else {
        cover_frame (priv->animation, frame);
    }
    priv->animation->frames = g_list_append (priv->animation->frames, frame);
    priv->animation->n_frames++;
    g_signal_emit (loader, tamba_loader_signals[kFrameDone], 0, frame);
}

// An image that never became a frame (a still image) stays the current image, so it is neither
// lost to tamba_loader_get_tamba nor leaked.
void tamba_loader_animation_done (Tamba *, gpointer user_data)
{
    TambaLoader *loader = callback_target (user_data);
    if (!loader) return;
    TambaLoaderPrivate *priv = private_of (loader);
    if (priv->animation)
        for (GList *l = priv->animation->frames; l; l = l->next)
            cover_frame (priv->animation, static_cast<const TambaFrame *> (l->data));
    g_signal_emit (loader, tamba_loader_signals[kAnimationDone], 0);
}

// Recognises the format from the buffered header and starts its module with those bytes.
// Returns the number of bytes handed over, 0 on failure.
int tamba_loader_load_module (TambaLoader *loader, TambaLoaderPrivate *priv)
{
    TambaModule *image_module =
        tamba_get_module (priv->header_buf, guint (priv->header_buf_offset));
    if (!image_module) return 0;
    priv->image_module = image_module;

    if (!image_module->module) tamba_load_module (image_module);
    if (!image_module->module) return 0;

    if (!image_module->begin_load || !image_module->stop_load || !image_module->load_increment) {
        g_log (nullptr, G_LOG_LEVEL_WARNING, tamba::detail::kNotIncremental,
               image_module->module_name);
        return 0;
    }
    priv->context = image_module->begin_load (tamba_loader_prepare, tamba_loader_update,
                                              tamba_loader_frame_done,
                                              tamba_loader_animation_done, loader);
    if (!priv->context) {
        g_log (nullptr, G_LOG_LEVEL_WARNING, tamba::detail::kBeginFailed);
        return 0;
    }
    return image_module->load_increment (priv->context, priv->header_buf,
                                         guint (priv->header_buf_offset))
               ? priv->header_buf_offset
               : 0;
}

// Buffers header bytes; the write that fills the buffer starts the module. Returns the number
// of bytes taken, 0 on failure.
int tamba_loader_eat_header_write (TambaLoader *loader, TambaLoaderPrivate *priv,
                                   const guchar *buf, gsize count)
{
    const int n = int (std::min (count, gsize (kHeaderSize - priv->header_buf_offset)));
    std::memcpy (priv->header_buf + priv->header_buf_offset, buf, size_t (n));
    priv->header_buf_offset += n;
    if (priv->header_buf_offset == kHeaderSize && tamba_loader_load_module (loader, priv) == 0)
        return 0;
    return n;
}

// Hands bytes to the running module, in pieces its unsigned count can describe.
gboolean feed_module (TambaLoaderPrivate *priv, const guchar *buf, gsize count)
{
    while (count > 0) {
        // A signal handler may have closed the loader, which stopped the module.
        if (priv->closed || !priv->context) return FALSE;
        const guint n = guint (std::min (count, gsize (G_MAXUINT)));
        if (!priv->image_module->load_increment (priv->context, buf, n)) return FALSE;
        buf += n;
        count -= n;
    }
    return TRUE;
}

// The library's own marshaller for "area_updated": the object, four ints, the user data.
void marshal_VOID__INT_INT_INT_INT (GClosure *closure, GValue *, guint n_param_values,
                                    const GValue *param_values, gpointer,
                                    gpointer marshal_data)
{
    using Handler = void (*) (gpointer, gint, gint, gint, gint, gpointer);
    TAMBA_ASSERT (n_param_values == 5, "n_param_values == 5");

    gpointer instance = g_value_peek_pointer (param_values + 0);
    gpointer data1 = instance;
    gpointer data2 = closure->data;
    if (G_CCLOSURE_SWAP_DATA (closure)) std::swap (data1, data2);
    auto handler = reinterpret_cast<Handler> (
        marshal_data ? marshal_data : reinterpret_cast<GCClosure *> (closure)->callback);
    handler (data1, g_value_get_int (param_values + 1), g_value_get_int (param_values + 2),
             g_value_get_int (param_values + 3), g_value_get_int (param_values + 4), data2);
}

}  // namespace

G_DEFINE_TYPE (TambaLoader, tamba_loader, G_TYPE_OBJECT)

static void tamba_loader_init (TambaLoader *loader)
{
    loader->priv = g_malloc0 (sizeof (TambaLoaderPrivate));
    set_live (loader, true);
}

static void tamba_loader_dispose (GObject *object)
{
    TAMBA_RETURN_IF_FAIL (object != nullptr, "object != NULL");
    TAMBA_RETURN_IF_FAIL (TAMBA_IS_LOADER (object), "GDK_IS_TAMBA_LOADER (object)");
    TambaLoader *loader = TAMBA_LOADER (object);
    TambaLoaderPrivate *priv = private_of (loader);

    if (!priv->closed) tamba_loader_close (loader);
    // Dispose may run more than once; each reference is dropped the first time only.
    if (TambaAnimation *animation = std::exchange (priv->animation, nullptr))
        tamba_animation_unref (animation);
    if (Tamba *tamba = std::exchange (priv->tamba, nullptr)) tamba_unref (tamba);

    G_OBJECT_CLASS (tamba_loader_parent_class)->dispose (object);
}

static void tamba_loader_finalize (GObject *object)
{
    TambaLoader *loader = TAMBA_LOADER (object);
    set_live (loader, false);
    g_free (loader->priv);
    loader->priv = nullptr;
    G_OBJECT_CLASS (tamba_loader_parent_class)->finalize (object);
}

static void tamba_loader_class_init (TambaLoaderClass *klass)
{
    GObjectClass *object_class = G_OBJECT_CLASS (klass);
    const GType type = G_TYPE_FROM_CLASS (klass);

    tamba_loader_signals[kAreaPrepared] = g_signal_new (
        "area_prepared", type, G_SIGNAL_RUN_LAST,
        G_STRUCT_OFFSET (TambaLoaderClass, area_prepared), nullptr, nullptr,
        g_cclosure_marshal_VOID__VOID, G_TYPE_NONE, 0);
    tamba_loader_signals[kAreaUpdated] = g_signal_new (
        "area_updated", type, G_SIGNAL_RUN_LAST,
        G_STRUCT_OFFSET (TambaLoaderClass, area_updated), nullptr, nullptr,
        marshal_VOID__INT_INT_INT_INT, G_TYPE_NONE, 4, G_TYPE_INT, G_TYPE_INT, G_TYPE_INT,
        G_TYPE_INT);
    tamba_loader_signals[kFrameDone] = g_signal_new (
        "frame_done", type, G_SIGNAL_RUN_LAST, G_STRUCT_OFFSET (TambaLoaderClass, frame_done),
        nullptr, nullptr, g_cclosure_marshal_VOID__POINTER, G_TYPE_NONE, 1, G_TYPE_POINTER);
    tamba_loader_signals[kAnimationDone] = g_signal_new (
        "animation_done", type, G_SIGNAL_RUN_LAST,
        G_STRUCT_OFFSET (TambaLoaderClass, animation_done), nullptr, nullptr,
        g_cclosure_marshal_VOID__VOID, G_TYPE_NONE, 0);
    tamba_loader_signals[kClosed] = g_signal_new (
        "closed", type, G_SIGNAL_RUN_LAST, G_STRUCT_OFFSET (TambaLoaderClass, closed), nullptr,
        nullptr, g_cclosure_marshal_VOID__VOID, G_TYPE_NONE, 0);

    object_class->dispose = tamba_loader_dispose;
    object_class->finalize = tamba_loader_finalize;
}

extern "C" TambaLoader *tamba_loader_new (void)
{
    return TAMBA_LOADER (g_object_new (TAMBA_TYPE_LOADER, nullptr));
}

extern "C" gboolean tamba_loader_write (TambaLoader *loader, const guchar *buf, gsize count)
{
    TAMBA_RETURN_VAL_IF_FAIL (loader != nullptr, "loader != NULL", FALSE);
    TAMBA_RETURN_VAL_IF_FAIL (TAMBA_IS_LOADER (loader), "GDK_IS_TAMBA_LOADER (loader)", FALSE);
    TAMBA_RETURN_VAL_IF_FAIL (buf != nullptr, "buf != NULL", FALSE);
    TambaLoaderPrivate *priv = private_of (loader);
    TAMBA_RETURN_VAL_IF_FAIL (priv->closed == FALSE, "priv->closed == FALSE", FALSE);

    KeepAlive hold (loader);
    if (!priv->image_module) {
        const int eaten = tamba_loader_eat_header_write (loader, priv, buf, count);
        if (eaten <= 0) return FALSE;
        buf += eaten;
        count -= gsize (eaten);
    }
    if (count == 0) return TRUE;
    // Without a running module (it never opened or refused to start) the bytes cannot be
    // loaded: say so rather than drop them.
    return feed_module (priv, buf, count);
}

extern "C" void tamba_loader_close (TambaLoader *loader)
{
    TAMBA_RETURN_IF_FAIL (loader != nullptr, "loader != NULL");
    TAMBA_RETURN_IF_FAIL (TAMBA_IS_LOADER (loader), "GDK_IS_TAMBA_LOADER (loader)");
    TambaLoaderPrivate *priv = private_of (loader);
    TAMBA_RETURN_IF_FAIL (priv->closed == FALSE, "priv->closed == FALSE");

    KeepAlive hold (loader);
    // A short file is recognised from whatever arrived; this may already emit signals.
    if (!priv->image_module) tamba_loader_load_module (loader, priv);
    // The module is stopped only if it was started, and only once even if a handler closes the
    // loader from inside stop_load.
    if (!priv->closed)
        if (gpointer context = std::exchange (priv->context, nullptr))
            priv->image_module->stop_load (context);
    if (priv->closed) return;
    priv->closed = TRUE;
    g_signal_emit (loader, tamba_loader_signals[kClosed], 0);
}

extern "C" Tamba *tamba_loader_get_tamba (TambaLoader *loader)
{
    TAMBA_RETURN_VAL_IF_FAIL (loader != nullptr, "loader != NULL", nullptr);
    TAMBA_RETURN_VAL_IF_FAIL (TAMBA_IS_LOADER (loader), "GDK_IS_TAMBA_LOADER (loader)", nullptr);
    TambaLoaderPrivate *priv = private_of (loader);
    if (priv->animation && priv->animation->frames)
        return static_cast<TambaFrame *> (priv->animation->frames->data)->tamba;
    return priv->tamba;
}

extern "C" TambaAnimation *tamba_loader_get_animation (TambaLoader *loader)
{
    TAMBA_RETURN_VAL_IF_FAIL (loader != nullptr, "loader != NULL", nullptr);
    TAMBA_RETURN_VAL_IF_FAIL (TAMBA_IS_LOADER (loader), "GDK_IS_TAMBA_LOADER (loader)", nullptr);
    return private_of (loader)->animation;
}
