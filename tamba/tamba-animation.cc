// SPDX-License-Identifier: LGPL-2.1-or-later
// Animations: loading them from files, reference counting and the accessors of animations and
// frames.
#include "tamba-loading.h"
#include "tamba-private.h"

namespace {

// A still image as an animation of one frame; the frame takes over the caller's reference.
TambaAnimation *single_frame_animation (Tamba *tamba)
{
    auto *frame = static_cast<TambaFrame *> (g_malloc (sizeof (TambaFrame)));
    frame->tamba = tamba;
    frame->x_offset = 0;
    frame->y_offset = 0;
    frame->delay_time = -1;
    frame->action = TAMBA_FRAME_RETAIN;

    auto *animation = static_cast<TambaAnimation *> (g_malloc0 (sizeof (TambaAnimation)));
    animation->ref_count = 1;
    animation->n_frames = 1;
    animation->frames = g_list_prepend (nullptr, frame);
    animation->width = tamba->width;
    animation->height = tamba->height;
    return animation;
}

}  // namespace

extern "C" TambaAnimation *tamba_animation_new_from_file (const char *filename)
{
    TAMBA_RETURN_VAL_IF_FAIL (filename != nullptr, "filename != NULL", nullptr);

    tamba::detail::File file;
    TambaModule *image_module = tamba::detail::open_with_module (filename, &file);
    if (!image_module) return nullptr;

    // A module's own animation entry is used even for still images, and its answer is final.
    if (image_module->load_animation) return image_module->load_animation (file.get ());
    if (!image_module->load) return nullptr;

    Tamba *tamba = image_module->load (file.get ());
    file.reset ();
    if (!tamba) return nullptr;
    TAMBA_ASSERT (tamba->ref_count > 0, "tamba->ref_count > 0");
    return single_frame_animation (tamba);
}

extern "C" TambaAnimation *tamba_animation_ref (TambaAnimation *animation)
{
    TAMBA_RETURN_VAL_IF_FAIL (animation != nullptr, "animation != NULL", nullptr);
    TAMBA_RETURN_VAL_IF_FAIL (animation->ref_count > 0, "animation->ref_count > 0", nullptr);

    animation->ref_count++;
    return animation;
}

extern "C" void tamba_animation_unref (TambaAnimation *animation)
{
    TAMBA_RETURN_IF_FAIL (animation != nullptr, "animation != NULL");
    TAMBA_RETURN_IF_FAIL (animation->ref_count > 0, "animation->ref_count > 0");

    if (--animation->ref_count > 0) return;

    for (GList *l = animation->frames; l; l = l->next) {
        auto *frame = static_cast<TambaFrame *> (l->data);
        if (!frame) continue;
        if (frame->tamba) tamba_unref (frame->tamba);
        g_free (frame);
    }
    g_list_free (animation->frames);
    g_free (animation);
}

extern "C" int tamba_animation_get_width (TambaAnimation *animation)
{
    TAMBA_RETURN_VAL_IF_FAIL (animation != nullptr, "animation != NULL", -1);
    return animation->width;
}

extern "C" int tamba_animation_get_height (TambaAnimation *animation)
{
    TAMBA_RETURN_VAL_IF_FAIL (animation != nullptr, "animation != NULL", -1);
    return animation->height;
}

extern "C" int tamba_animation_get_num_frames (TambaAnimation *animation)
{
    TAMBA_RETURN_VAL_IF_FAIL (animation != nullptr, "animation != NULL", -1);
    return animation->n_frames;
}

extern "C" GList *tamba_animation_get_frames (TambaAnimation *animation)
{
    TAMBA_RETURN_VAL_IF_FAIL (animation != nullptr, "animation != NULL", nullptr);
    return animation->frames;
}

extern "C" Tamba *tamba_frame_get_tamba (TambaFrame *frame)
{
    TAMBA_RETURN_VAL_IF_FAIL (frame != nullptr, "frame != NULL", nullptr);
    return frame->tamba;
}

extern "C" int tamba_frame_get_x_offset (TambaFrame *frame)
{
    TAMBA_RETURN_VAL_IF_FAIL (frame != nullptr, "frame != NULL", -1);
    return frame->x_offset;
}

extern "C" int tamba_frame_get_y_offset (TambaFrame *frame)
{
    TAMBA_RETURN_VAL_IF_FAIL (frame != nullptr, "frame != NULL", -1);
    return frame->y_offset;
}

extern "C" int tamba_frame_get_delay_time (TambaFrame *frame)
{
    TAMBA_RETURN_VAL_IF_FAIL (frame != nullptr, "frame != NULL", -1);
    return frame->delay_time;
}

extern "C" TambaFrameAction tamba_frame_get_action (TambaFrame *frame)
{
    TAMBA_RETURN_VAL_IF_FAIL (frame != nullptr, "frame != NULL", TAMBA_FRAME_RETAIN);
    return frame->action;
}
