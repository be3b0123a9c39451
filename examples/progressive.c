/* SPDX-License-Identifier: LGPL-2.1-or-later */
/* progressive: feeds a file to a TambaLoader a few bytes at a time, as a program receiving it over
 * a network would, and prints each signal the loader emits.
 *
 *   progressive FILE [PIECE]         (PIECE bytes per write, default 512)
 *
 * Build: cc progressive.c $(pkg-config --cflags --libs tamba) -o progressive */
#include <stdio.h>
#include <stdlib.h>

#include <tamba/tamba.h>

static void on_area_prepared (TambaLoader *loader, gpointer user_data)
{
  (void) user_data;
  /* From here on the image exists; its pixels fill in as area_updated reports. */
  Tamba *image = tamba_loader_get_tamba (loader);
  printf ("area_prepared %dx%d\n", tamba_get_width (image), tamba_get_height (image));
}

static void on_area_updated (TambaLoader *loader, gint x, gint y, gint width, gint height,
                             gpointer user_data)
{
  (void) loader;
  int *updates = user_data;
  ++*updates;
  printf ("area_updated %d,%d %dx%d\n", x, y, width, height);
}

static void on_frame_done (TambaLoader *loader, TambaFrame *frame, gpointer user_data)
{
  (void) loader;
  (void) user_data;
  Tamba *image = tamba_frame_get_tamba (frame);
  printf ("frame_done %dx%d at %d,%d, delay %d\n", tamba_get_width (image),
          tamba_get_height (image), tamba_frame_get_x_offset (frame),
          tamba_frame_get_y_offset (frame), tamba_frame_get_delay_time (frame));
}

static void on_animation_done (TambaLoader *loader, gpointer user_data)
{
  (void) user_data;
  TambaAnimation *animation = tamba_loader_get_animation (loader);
  printf ("animation_done %d frames\n", animation ? tamba_animation_get_num_frames (animation) : 0);
}

static void on_closed (TambaLoader *loader, gpointer user_data)
{
  (void) loader;
  (void) user_data;
  printf ("closed\n");
}

int main (int argc, char **argv)
{
  if (argc < 2 || argc > 3) {
    fprintf (stderr, "usage: %s FILE [PIECE]\n", argv[0]);
    return 2;
  }
  long piece = argc == 3 ? atol (argv[2]) : 512;
  if (piece <= 0) {
    fprintf (stderr, "%s: PIECE must be a positive number\n", argv[0]);
    return 2;
  }
  FILE *f = fopen (argv[1], "rb");
  if (f == NULL) {
    perror (argv[1]);
    return 1;
  }

  int updates = 0;
  TambaLoader *loader = tamba_loader_new ();
  g_signal_connect (loader, "area_prepared", G_CALLBACK (on_area_prepared), NULL);
  g_signal_connect (loader, "area_updated", G_CALLBACK (on_area_updated), &updates);
  g_signal_connect (loader, "frame_done", G_CALLBACK (on_frame_done), NULL);
  g_signal_connect (loader, "animation_done", G_CALLBACK (on_animation_done), NULL);
  g_signal_connect (loader, "closed", G_CALLBACK (on_closed), NULL);

  guchar *buf = g_malloc ((gsize) piece);
  gboolean ok = TRUE;
  size_t n;
  while (ok && (n = fread (buf, 1, (size_t) piece, f)) > 0)
    ok = tamba_loader_write (loader, buf, n);
  g_free (buf);
  fclose (f);

  /* Closing finishes a short file and emits "closed"; the loader keeps the image until unref. */
  tamba_loader_close (loader);
  Tamba *image = tamba_loader_get_tamba (loader);
  if (ok && image != NULL)
    printf ("%s: %dx%d, %d channels, %d updates\n", argv[1], tamba_get_width (image),
            tamba_get_height (image), tamba_get_n_channels (image), updates);
  else
    fprintf (stderr, "%s: cannot decode\n", argv[1]);
  int status = ok && image != NULL ? 0 : 1;
  g_object_unref (loader);
  return status;
}
