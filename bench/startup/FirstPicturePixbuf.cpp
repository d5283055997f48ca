// The comparison for first_picture_view: a minimal program that loads the
// same JPEG file with gdk-pixbuf at the size that fits 1600 x 1000, keeping
// its proportions, then ends at once, writing its peak memory (VmHWM, kB).
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static long PeakKb(void) {
  FILE* F = fopen("/proc/self/status", "r");
  char Line[256];
  long Kb = -1;
  if (!F) return -1;
  while (fgets(Line, sizeof Line, F))
    if (strncmp(Line, "VmHWM:", 6) == 0) Kb = strtol(Line + 6, nullptr, 10);
  fclose(F);
  return Kb;
}

int main(int argc, char** argv) {
  GError* Error = nullptr;
  GdkPixbuf* P;
  if (argc < 2) return 2;
  P = gdk_pixbuf_new_from_file_at_scale(argv[1], 1600, 1000, TRUE, &Error);
  if (!P) {
    fprintf(stderr, "%s\n", Error ? Error->message : "failed");
    return 1;
  }
  printf("%ld\n", PeakKb());
  fflush(stdout);
  _exit(0);
}
