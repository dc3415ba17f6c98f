// SPDX-License-Identifier: MIT
// A small C++ host program: sets a transmit offset and a receive tone on the
// radio at the serial device named on the command line, then reads both the
// offset and the configuration bytes back. Usage: host_cpp DEVICE
#include <radioline.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

constexpr int kRadio = 0x20;
constexpr int kController = 0x91;

// Closes the line however the program leaves.
struct Line {
  explicit Line(std::string device) { rc = seropen(device.data(), 19200); }
  ~Line() { serclose(); }
  int rc;
};

int fail(const char *what, int rc) {
  std::fprintf(stderr, "%s: %s\n", what, std::strerror(rc));
  return 1;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s DEVICE\n", argv[0]);
    return 2;
  }
  Line line(argv[1]);
  if (line.rc != 0) return fail("seropen", line.rc);

  if (int rc = settxoffset(kRadio, kController, -600000); rc != 0) return fail("settxoffset", rc);
  if (int rc = setpl(kRadio, kController, 885, 1); rc != 0) return fail("setpl", rc);

  long offset = 0;
  std::array<unsigned char, 2> config{};
  if (int rc = gettxoffset(kRadio, kController, &offset); rc != 0) return fail("gettxoffset", rc);
  if (int rc = getconfig(kRadio, kController, config.data(), config.size()); rc != 0)
    return fail("getconfig", rc);
  std::printf("offset %ld Hz, config %02x %02x\n", offset, config[0], config[1]);
  return 0;
}
