// SPDX-License-Identifier: LGPL-2.1-or-later
#include "modules.h"

#include <gmodule.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <utility>

#ifndef TAMBA_TEST_LOADER_DIR
#define TAMBA_TEST_LOADER_DIR ""
#endif

namespace tamba::test {

Bytes read_file (const std::string &path)
{
    std::ifstream in (path, std::ios::binary);
    return Bytes ((std::istreambuf_iterator<char> (in)), std::istreambuf_iterator<char> ());
}

std::string compare_images (const Tamba *a, const Tamba *b)
{
    if (!a || !b) return a ? "second image missing" : "first image missing";
    if (a->width != b->width || a->height != b->height || a->n_channels != b->n_channels)
        return "sizes or layouts differ";
    const size_t row = size_t (a->width) * size_t (a->n_channels);
    for (int y = 0; y < a->height; ++y)
        if (!std::equal (a->pixels + size_t (y) * size_t (a->rowstride),
                         a->pixels + size_t (y) * size_t (a->rowstride) + row,
                         b->pixels + size_t (y) * size_t (b->rowstride)))
            return "pixels differ in row " + std::to_string (y);
    return "";
}

Module::Module (const std::string &path, const std::string &name)
{
    GModule *m = g_module_open (path.c_str (), G_MODULE_BIND_LAZY);
    auto bind = [&] (const char *entry, auto &field) {
        gpointer sym = nullptr;
        if (m && g_module_symbol (m, ("tamba__" + name + "_" + entry).c_str (), &sym))
            field = reinterpret_cast<std::remove_reference_t<decltype (field)>> (sym);
    };
    bind ("image_load", entries_.load);
    bind ("image_load_xpm_data", entries_.load_xpm_data);
    bind ("image_begin_load", entries_.begin_load);
    bind ("image_stop_load", entries_.stop_load);
    bind ("image_load_increment", entries_.load_increment);
    bind ("image_load_animation", entries_.load_animation);
    bind ("image_load_at_size", entries_.load_at_size);
    entries_.module = m;
}

namespace {

template <typename Entry>
auto load_through (Entry entry, FILE *f) -> decltype (entry (f))
{
    auto result = entry && f ? entry (f) : nullptr;
    if (f) std::fclose (f);
    return result;
}

FILE *temp_file_of (const Bytes &bytes)
{
    FILE *f = std::tmpfile ();
    if (f) std::fwrite (bytes.data (), 1, bytes.size (), f), std::rewind (f);
    return f;
}

}  // namespace

Tamba *Module::load_file (const std::string &path) const { return load_through (entries_.load, std::fopen (path.c_str (), "rb")); }
TambaAnimation *Module::load_animation_file (const std::string &path) const
{
    return load_through (entries_.load_animation, std::fopen (path.c_str (), "rb"));
}
Tamba *Module::load_bytes (const Bytes &bytes) const { return load_through (entries_.load, temp_file_of (bytes)); }
TambaAnimation *Module::load_animation_bytes (const Bytes &bytes) const
{
    return load_through (entries_.load_animation, temp_file_of (bytes));
}

const Module &module_for (const std::string &format)
{
    static std::map<std::string, std::unique_ptr<Module>> modules;
    auto &m = modules[format];
    if (!m)
        m = std::make_unique<Module> (
            std::string (TAMBA_TEST_LOADER_DIR) + "/libtambaloader-" + format + ".so", format);
    return *m;
}

Progressive::Progressive (Progressive &&o) noexcept : Progressive ()
{
    std::swap (image, o.image);
    std::swap (frames, o.frames);
    increments_ok = o.increments_ok, prepared = o.prepared, updates = o.updates;
    animation_done = o.animation_done, updates_in_bounds = o.updates_in_bounds;
    row_updates = std::move (o.row_updates), image_updates = o.image_updates;
    updates_before_stop = o.updates_before_stop, complete_before_stop = o.complete_before_stop;
    protocol_error = std::move (o.protocol_error);
}

Progressive::~Progressive ()
{
    for (TambaFrame *f : frames) {
        if (f->tamba) tamba_unref (f->tamba);
        g_free (f);
    }
    if (image) tamba_unref (image);
}

namespace {

void on_prepare (Tamba *image, gpointer data)
{
    auto *p = static_cast<Progressive *> (data);
    p->prepared++;
    if (!image) {
        p->protocol_error = "prepare without an image";
        return;
    }
    // The library takes a reference at prepare; a frame handed over later uses it.
    if (p->image) tamba_unref (p->image);
    p->image = tamba_ref (image);
    p->row_updates.assign (size_t (image->height), 0);
    p->image_updates = 0;
}

void on_update (Tamba *image, guint x, guint y, guint w, guint h, gpointer data)
{
    auto *p = static_cast<Progressive *> (data);
    p->updates++;
    if (!p->prepared) p->protocol_error = "update before prepare";
    if (!image) return;
    if (guint64 (x) + w > guint64 (image->width) || guint64 (y) + h > guint64 (image->height)) {
        p->updates_in_bounds = false;
        return;
    }
    if (image != p->image) return;
    p->image_updates++;
    for (guint r = y; r < y + h; ++r) p->row_updates[r]++;
}

void on_frame_done (TambaFrame *frame, gpointer data)
{
    auto *p = static_cast<Progressive *> (data);
    if (!frame) {
        p->protocol_error = "frame done without a frame";
        return;
    }
    // The frame owns the reference taken at prepare.
    if (frame->tamba && frame->tamba == p->image) p->image = nullptr;
    else if (frame->tamba) tamba_ref (frame->tamba);
    p->frames.push_back (frame);
}

void on_animation_done (Tamba *, gpointer data)
{
    static_cast<Progressive *> (data)->animation_done++;
}

}  // namespace

Progressive load_in_pieces (const Module &module, const Bytes &bytes,
                            const std::vector<size_t> &piece_sizes)
{
    Progressive p;
    const auto &m = module.entries ();
    if (!m.begin_load || !m.load_increment || !m.stop_load) {
        p.increments_ok = false;
        p.protocol_error = "module has no progressive entries";
        return p;
    }
    gpointer context = m.begin_load (on_prepare, on_update, on_frame_done, on_animation_done, &p);
    if (!context) {
        p.increments_ok = false;
        return p;
    }
    // Each piece is copied into a buffer of exactly its size, so the sanitizer build catches a
    // module that reads past what it was given.
    size_t turn = 0;
    for (size_t off = 0, n = 0; off < bytes.size (); off += n) {
        const size_t wanted = piece_sizes.empty () ? 0 : piece_sizes[turn++ % piece_sizes.size ()];
        n = wanted ? std::min (wanted, bytes.size () - off) : bytes.size () - off;
        std::vector<guchar> piece (bytes.begin () + long (off), bytes.begin () + long (off + n));
        if (!m.load_increment (context, piece.data (), guint (n))) {
            p.increments_ok = false;
            break;
        }
    }
    p.updates_before_stop = p.updates;
    p.complete_before_stop = p.prepared > 0 && !p.row_updates.empty ()
                             && std::count (p.row_updates.begin (), p.row_updates.end (), 0) == 0;
    m.stop_load (context);
    return p;
}

void free_animation (TambaAnimation *animation)
{
    if (!animation) return;
    for (GList *l = animation->frames; l; l = l->next) {
        auto *f = static_cast<TambaFrame *> (l->data);
        if (f->tamba) tamba_unref (f->tamba);
        g_free (f);
    }
    g_list_free (animation->frames);
    g_free (animation);
}

}  // namespace tamba::test
