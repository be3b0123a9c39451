/* SPDX-License-Identifier: LGPL-2.1-or-later */
/* x-window: shows an image in an X window, reads the window's pixels back into a new image and
 * counts how many match what was drawn (all of them on a 24-bit screen; a screen with fewer
 * colours shows the nearest ones it has).
 *
 *   x-window FILE [SECONDS]          (keeps the window up SECONDS, default 0)
 *
 * Without a display it says so and exits with 77, the "skipped" status of test harnesses.
 * Build: cc x-window.c $(pkg-config --cflags --libs tamba) -o x-window */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <gdk/gdk.h>
#include <tamba/tamba.h>

int main (int argc, char **argv)
{
  if (!gdk_init_check (&argc, &argv)) {
    fprintf (stderr, "%s: no X display, skipping\n", argv[0]);
    return 77;
  }
  if (argc < 2 || argc > 3) {
    fprintf (stderr, "usage: %s FILE [SECONDS]\n", argv[0]);
    return 2;
  }
  Tamba *image = tamba_new_from_file (argv[1]);
  if (image == NULL) {
    fprintf (stderr, "%s: cannot load\n", argv[1]);
    return 1;
  }
  int width = tamba_get_width (image), height = tamba_get_height (image);

  /* A top-level window in GdkRGB's visual, so that rendering needs no colour conversion of its
   * own. There is no event loop here: draw once the window is mapped, then read it back. */
  GdkWindowAttr attr;
  memset (&attr, 0, sizeof attr);
  attr.title = "tamba example";
  attr.width = (gint16) width;
  attr.height = (gint16) height;
  attr.wclass = GDK_INPUT_OUTPUT;
  attr.visual = gdk_rgb_get_visual ();
  attr.colormap = gdk_rgb_get_cmap ();
  attr.window_type = GDK_WINDOW_TOPLEVEL;
  GdkWindow *window = gdk_window_new (NULL, &attr,
                                      GDK_WA_TITLE | GDK_WA_VISUAL | GDK_WA_COLORMAP);
  gdk_window_show (window);
  gdk_flush ();

  /* Images with alpha are drawn where alpha reaches 128; the rest keeps the window's background. */
  GdkGC *gc = gdk_gc_new (window);
  if (tamba_get_has_alpha (image))
    tamba_render_to_drawable_alpha (image, window, 0, 0, 0, 0, width, height,
                                    TAMBA_ALPHA_BILEVEL, 128, GDK_RGB_DITHER_NONE, 0, 0);
  else
    tamba_render_to_drawable (image, window, gc, 0, 0, 0, 0, width, height,
                              GDK_RGB_DITHER_NONE, 0, 0);
  gdk_flush ();

  /* The capture is a new RGB image; a window uses its own colormap, so none is passed. */
  Tamba *shot = tamba_get_from_drawable (NULL, window, NULL, 0, 0, 0, 0, width, height);
  int status = 1;
  if (shot != NULL) {
    long same = 0;
    const int n = tamba_get_n_channels (image);
    for (int y = 0; y < height; ++y) {
      const guchar *a = tamba_get_pixels (image) + y * tamba_get_rowstride (image);
      const guchar *b = tamba_get_pixels (shot) + y * tamba_get_rowstride (shot);
      for (int x = 0; x < width; ++x)
        same += memcmp (a + x * n, b + x * 3, 3) == 0;
    }
    printf ("captured %dx%d from a depth-%d window: %ld of %ld pixels as drawn\n", width, height,
            gdk_rgb_get_visual ()->depth, same, (long) width * height);
    status = 0;
    tamba_unref (shot);
  } else {
    fprintf (stderr, "%s: cannot capture the window\n", argv[0]);
  }

  if (argc == 3)
    g_usleep ((gulong) (atof (argv[2]) * G_USEC_PER_SEC));
  gdk_gc_unref (gc);
  gdk_window_destroy (window);
  tamba_unref (image);
  return status;
}
