/* SPDX-License-Identifier: MIT */
/* A small C host program: tunes the radio on the serial device named on the
 * command line, stores the VFO into mode slot 3 and reads the firmware
 * version back. Usage: host_c DEVICE */
#include <radioline.h>
#include <stdio.h>
#include <string.h>

enum { RADIO = 0x20, CONTROLLER = 0x91 };

int main(int argc, char **argv) {
  unsigned char version[64];
  int rc;

  if (argc != 2) {
    fprintf(stderr, "usage: %s DEVICE\n", argv[0]);
    return 2;
  }
  rc = seropen(argv[1], 19200);
  if (rc != 0) {
    fprintf(stderr, "seropen: %s\n", strerror(rc));
    return 1;
  }
  if ((rc = setvfofreq(RADIO, CONTROLLER, 145500000L)) == 0 &&
      (rc = setmode(RADIO, CONTROLLER, 3)) == 0 && (rc = storevfotomode(RADIO, CONTROLLER)) == 0)
    rc = getversion(RADIO, CONTROLLER, version, sizeof version - 1);
  if (rc != 0) {
    fprintf(stderr, "radio: %s\n", strerror(rc));
    serclose();
    return 1;
  }
  version[sizeof version - 1] = '\0';
  printf("tuned to 145.5 MHz, stored in mode 3; firmware %s\n", version);
  serclose();
  return 0;
}
