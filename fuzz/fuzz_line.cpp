// SPDX-License-Identifier: MIT
// Fuzz kit: findings and the socket-pair line.
#include "fuzz_line.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

void require(bool condition, const char *what) {
  if (condition) return;
  std::fprintf(stderr, "property violated: %s\n", what);
  std::abort();
}

FuzzLine::FuzzLine() {
  int ends[2] = {-1, -1};
  require(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) == 0, "socketpair");
  serfh = ends[0];
  radio_ = ends[1];
}

FuzzLine::~FuzzLine() {
  close(radio_);
  serclose();
}

// A blocking write to a stream socket writes all of a fuzz input's few bytes.
void FuzzLine::sendLast(const Bytes &bytes) const {
  require(write(radio_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size()),
          "writing the radio's bytes to the socket pair");
  require(shutdown(radio_, SHUT_WR) == 0, "ending the line");
}

Bytes FuzzLine::written() const {
  Bytes got;
  std::uint8_t chunk[256];
  for (ssize_t n; (n = recv(radio_, chunk, sizeof chunk, MSG_DONTWAIT)) > 0;)
    got.insert(got.end(), chunk, chunk + n);
  return got;
}
