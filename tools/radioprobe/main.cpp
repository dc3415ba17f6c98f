// SPDX-License-Identifier: MIT
// radioprobe: checks that a radio answers on the serial line. It opens the
// fixed device at the radios' usual speed, sends the firmware-version request
// from the usual controller to the usual radio address (the numbers
// radioline.h gives) once straight through the frame layer (no command
// exchange), and prints the body of the first frame that comes back as
// "<< xx " items on standard error and then an empty line on standard output. Each failing step
// prints one "rc" line and exits 1. It reads no arguments: a lone --version prints the project's
// version instead, and any others are ignored.
#include <cstdio>
#include <cstring>

#include "radioline.h"

int main(int argc, char **argv) {
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    const bool printed = std::puts("radioprobe " RADIOLINE_VERSION) != EOF;
    return printed && std::fflush(stdout) == 0 ? 0 : 1;
  }
  char device[] = "/dev/usb/ttyUSB1";
  unsigned char getfwvers[] = {RADIOLINE_CMD_EXTENDED, RADIOLINE_SUB_GETVERSION};

  int rc = seropen(device, RADIOLINE_BAUD);
  if (rc != 0) {
    std::fprintf(stderr, "rc=%d from seropen\n", rc);
    return 1;
  }
  rc = sendcmd(RADIOLINE_RADIO_ADDRESS, RADIOLINE_CONTROLLER_ADDRESS, getfwvers, sizeof getfwvers);
  if (rc != 0) {
    std::fprintf(stderr, "rc %d from sendcmd\n", rc);
    return 1;
  }
  int to = 0;
  int from = 0;
  int buflen = 0;
  unsigned char ansbuf[32] = {};
  rc = rcvresp(&to, &from, ansbuf, sizeof ansbuf, &buflen);
  if (rc != 0) {
    std::fprintf(stderr, "rc %d from rcvresp\n", rc);
    return 1;
  }
  for (int i = 0; i < buflen; i++) std::fprintf(stderr, "<< %02x ", ansbuf[i]);
  std::puts("");
  return 0;
}
