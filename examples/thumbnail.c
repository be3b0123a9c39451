/* SPDX-License-Identifier: LGPL-2.1-or-later */
/* thumbnail: loads an image scaled to fit a square box, keeping its aspect ratio, and saves the
 * result as PNG.
 *
 *   thumbnail IN OUT.png [SIZE]      (SIZE defaults to 128)
 *
 * Build: cc thumbnail.c $(pkg-config --cflags --libs tamba) -o thumbnail */
#include <stdio.h>
#include <stdlib.h>

#include <tamba/tamba.h>

int main (int argc, char **argv)
{
  if (argc < 3 || argc > 4) {
    fprintf (stderr, "usage: %s IN OUT.png [SIZE]\n", argv[0]);
    return 2;
  }
  int size = argc == 4 ? atoi (argv[3]) : 128;
  if (size <= 0) {
    fprintf (stderr, "%s: SIZE must be a positive number\n", argv[0]);
    return 2;
  }

  /* Reducing uses the hyperbolic filter, enlarging the bilinear one. The library has already
   * logged a warning saying why when this returns NULL. */
  Tamba *thumb = tamba_new_from_file_at_size (argv[1], size, size, TRUE);
  if (thumb == NULL) {
    fprintf (stderr, "%s: cannot load\n", argv[1]);
    return 1;
  }

  gboolean saved = tamba_save (thumb, argv[2], "png");
  if (saved)
    printf ("%s: %dx%d%s\n", argv[2], tamba_get_width (thumb), tamba_get_height (thumb),
            tamba_get_has_alpha (thumb) ? " with alpha" : "");
  tamba_unref (thumb);
  return saved ? 0 : 1;
}
