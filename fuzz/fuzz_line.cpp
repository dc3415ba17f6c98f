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

void FuzzLine::sendLast(const Bytes &bytes) const {
  for (std::size_t done = 0; done < bytes.size();) {
    const ssize_t n = write(radio_, bytes.data() + done, bytes.size() - done);
    require(n > 0, "writing the radio's bytes to the socket pair");
    done += static_cast<std::size_t>(n);
  }
  require(shutdown(radio_, SHUT_WR) == 0, "ending the line");
}

Bytes FuzzLine::written() const {
  Bytes got;
  std::uint8_t chunk[256];
  for (ssize_t n; (n = recv(radio_, chunk, sizeof chunk, MSG_DONTWAIT)) > 0;) {
    got.insert(got.end(), chunk, chunk + n);
  }
  return got;
}
