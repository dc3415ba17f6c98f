// SPDX-License-Identifier: MIT
// Fuzz kit: the socket-pair line, the frame encoder and the receiver model.
#include "fuzz_line.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "radioline.h"

namespace {

constexpr std::uint8_t kEnd = 0xFD;
constexpr std::uint8_t kStart = 0xFE;
constexpr std::uint8_t kEscape = 0xFF;

void write_all(int fd, const Bytes &bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    require(n > 0, "writing the radio's bytes to the socket pair");
    done += static_cast<std::size_t>(n);
  }
}

}  // namespace

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

void FuzzLine::send(const Bytes &bytes) const {
  write_all(radio_, bytes);
}

void FuzzLine::send_last(const Bytes &bytes) const {
  send(bytes);
  require(shutdown(radio_, SHUT_WR) == 0, "ending the line");
}

Bytes FuzzLine::written() const {
  Bytes got;
  std::uint8_t chunk[256];
  for (;;) {
    const ssize_t n = recv(radio_, chunk, sizeof chunk, MSG_DONTWAIT);
    if (n <= 0) break;
    got.insert(got.end(), chunk, chunk + n);
  }
  return got;
}

Bytes wire_frame(int to, int from, const Bytes &body) {
  Bytes wire{kStart, kStart, static_cast<std::uint8_t>(to), static_cast<std::uint8_t>(from)};
  for (const std::uint8_t b : body) {
    if (b >= kEnd) {
      wire.push_back(kEscape);
      wire.push_back(b & 0x0F);
    } else {
      wire.push_back(b);
    }
  }
  wire.push_back(kEnd);
  return wire;
}

bool ModelLine::next(std::uint8_t *c) {
  if (pos_ == stream_.size()) return false;
  *c = stream_[pos_++];
  return true;
}

int ModelLine::read_body(ModelFrame *frame, int bufsize) {
  std::uint8_t c = 0;
  while (static_cast<int>(frame->body.size()) < bufsize) {
    if (!next(&c)) return EPIPE;
    if (c == kEnd) break;
    if (c == kEscape) {
      if (!next(&c)) return EPIPE;
      c |= 0xF0;
    }
    frame->body.push_back(c);
  }
  return 0;
}

ModelFrame ModelLine::receive(int bufsize, int to, int from) {
  ModelFrame frame{EPIPE, to, from, {}};
  std::uint8_t c = 0;
  do {
    if (!next(&c)) return frame;
  } while (c != kStart);
  if (!next(&c)) return frame;
  if (c != kStart) {
    frame.rc = EINVAL;
    return frame;
  }
  if (!next(&c)) return frame;
  frame.to = c;
  if (!next(&c)) return frame;
  frame.from = c;
  frame.rc = read_body(&frame, bufsize);
  return frame;
}

ModelFrame ModelLine::reply(int to, int from, int bufsize) {
  ModelFrame frame;
  while (frame.to != from || frame.from != to) {
    frame = receive(bufsize, frame.to, frame.from);
    if (frame.rc != 0) break;
  }
  return frame;
}
