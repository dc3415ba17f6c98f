// SPDX-License-Identifier: MIT
// radioprobe: checks that a radio answers on the serial line. It opens the
// fixed device, sends the firmware-version request once straight through the
// frame layer (no command exchange), and prints the body of the first frame
// that comes back as "<< xx " items on standard error and then an empty line
// on standard output. Each failing step prints one "rc" line and exits 1.
// It reads no arguments: a lone --version prints the project's version
// instead, and any others are ignored.
#include <cstdio>
#include <cstring>

#include "radioline.h"

int main(int argc, char **argv) {
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    const bool printed = std::puts("radioprobe " RADIOLINE_VERSION) != EOF;
    return printed && std::fflush(stdout) == 0 ? 0 : 1;
  }
  char device[] = "/dev/usb/ttyUSB1";
  constexpr int kBaudRate = 19200;
  constexpr int kRadio = 0x20;               // the radio's bus address
  constexpr int kController = 0x91;          // this program's bus address
  constexpr unsigned char kExtended = 0xAA;  // extended command byte
  constexpr unsigned char kVersion = 0x02;   // its firmware-version subcommand
  unsigned char getfwvers[] = {kExtended, kVersion};

  int rc = seropen(device, kBaudRate);
  if (rc != 0) {
    std::fprintf(stderr, "rc=%d from seropen\n", rc);
    return 1;
  }
  rc = sendcmd(kRadio, kController, getfwvers, sizeof getfwvers);
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
