/* SPDX-License-Identifier: MIT */
/* Two radios on two serial lines, one thread each: each thread opens a line
 * handle of its own, tunes its radio and reads its firmware version, while
 * the other does the same on the other line; the library lets both lines
 * work at once. With -v each line's trace is printed, marked with its device.
 * Usage: two_radios [-v] DEVICE1 DEVICE2 */
#include <pthread.h>
#include <radioline.h>
#include <stdio.h>
#include <string.h>

enum { RADIO = 0x20, CONTROLLER = 0x91, TIMEOUT_MS = 1000 };

struct station {
  const char *device;
  long frequency;
  int traced;
  unsigned char version[64];
  int rc;
};

/* One trace line of a station's line; the context is the station. */
static void show_trace(void *context, const char *text) {
  const struct station *station = context;
  fprintf(stderr, "%s: %s\n", station->device, text);
}

static void *run_station(void *context) {
  struct station *station = context;
  radioline_line *line;

  station->rc = rl_open(station->device, 19200, &line);
  if (station->rc != 0) return NULL;
  rl_settimeout(line, TIMEOUT_MS); /* the radios answer within milliseconds */
  if (station->traced) rl_settrace(line, show_trace, station);
  station->rc = rl_setvfofreq(line, RADIO, CONTROLLER, station->frequency);
  if (station->rc == 0)
    station->rc =
        rl_getversion(line, RADIO, CONTROLLER, station->version, (int)sizeof station->version - 1);
  rl_close(line);
  return NULL;
}

int main(int argc, char **argv) {
  struct station stations[2] = {{NULL, 145500000L, 0, {0}, 0}, {NULL, 433920000L, 0, {0}, 0}};
  pthread_t threads[2];
  int traced = argc == 4 && strcmp(argv[1], "-v") == 0;
  int started = 0, failed = 0, i;

  if (argc != 3 + traced) {
    fprintf(stderr, "usage: %s [-v] DEVICE1 DEVICE2\n", argv[0]);
    return 2;
  }
  for (i = 0; i < 2; i++) {
    stations[i].device = argv[1 + traced + i];
    stations[i].traced = traced;
  }
  for (i = 0; i < 2; i++) {
    if (pthread_create(&threads[i], NULL, run_station, &stations[i]) != 0) break;
    started++;
  }
  for (i = 0; i < started; i++) pthread_join(threads[i], NULL);
  for (i = 0; i < 2; i++) {
    if (i >= started || stations[i].rc != 0) {
      fprintf(stderr, "%s: %s\n", stations[i].device,
              i >= started ? "no thread" : strerror(stations[i].rc));
      failed = 1;
    } else {
      printf("%s: tuned to %ld Hz; firmware %s\n", stations[i].device, stations[i].frequency,
             (const char *)stations[i].version);
    }
  }
  return failed;
}
