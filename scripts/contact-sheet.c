// SPDX-License-Identifier: LGPL-2.1-or-later
// Lays images out on one canvas, each centred in its own square cell over a light
// checkerboard (so transparency shows), and saves the canvas as PNG.
//
//   contact-sheet OUT.png CELL FILE...
//
// Images larger than CELL are placed unscaled and cropped to their cell, centred; the demo hands it
// thumbnails that already fit.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <tamba/tamba.h>

enum { GAP = 8, MAX_COLUMNS = 5, CHECK = 8 };

static void fill (Tamba *canvas, int x0, int y0, int w, int h, int check)
{
  guchar *pixels = tamba_get_pixels (canvas);
  const int stride = tamba_get_rowstride (canvas);
  for (int y = y0; y < y0 + h; y++)
    for (int x = x0; x < x0 + w; x++) {
      guchar v = 48;
      if (check)
        v = (((x - x0) / CHECK + (y - y0) / CHECK) & 1) ? 200 : 232;
      memset (pixels + (size_t) y * stride + (size_t) x * 3, v, 3);
    }
}

int main (int argc, char **argv)
{
  if (argc < 4 || atoi (argv[2]) <= 0) {
    fprintf (stderr, "usage: %s OUT.png CELL FILE...\n", argv[0]);
    return 2;
  }
  const char *out = argv[1];
  const int cell = atoi (argv[2]);
  const int count = argc - 3;
  const int columns = count < MAX_COLUMNS ? count : MAX_COLUMNS;
  const int rows = (count + columns - 1) / columns;
  const int width = GAP + columns * (cell + GAP);
  const int height = GAP + rows * (cell + GAP);

  Tamba *canvas = tamba_new (GDK_COLORSPACE_RGB, FALSE, 8, width, height);
  if (!canvas) {
    fprintf (stderr, "%s: cannot allocate a %dx%d canvas\n", out, width, height);
    return 1;
  }
  fill (canvas, 0, 0, width, height, 0);

  int status = 0;
  for (int i = 0; i < count; i++) {
    const char *file = argv[3 + i];
    const int cx = GAP + (i % columns) * (cell + GAP);
    const int cy = GAP + (i / columns) * (cell + GAP);
    fill (canvas, cx, cy, cell, cell, 1);
    Tamba *image = tamba_new_from_file (file);
    if (!image) {
      fprintf (stderr, "%s: cannot load\n", file);
      status = 1;
      continue;
    }
    const int iw = tamba_get_width (image), ih = tamba_get_height (image);
    const int w = iw < cell ? iw : cell, h = ih < cell ? ih : cell;
    tamba_composite (image, canvas, cx + (cell - w) / 2, cy + (cell - h) / 2, w, h,
                     cx + (cell - iw) / 2, cy + (cell - ih) / 2, 1.0, 1.0, GDK_INTERP_NEAREST,
                     255);
    tamba_unref (image);
  }

  if (!tamba_save (canvas, out, "png"))
    status = 1;
  tamba_unref (canvas);
  return status;
}
