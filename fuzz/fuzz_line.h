// SPDX-License-Identifier: MIT
// Fuzz kit: a socket-pair serial line, a frame encoder and a model of the frame receiver.
#ifndef RADIOLINE_FUZZ_FUZZ_LINE_H
#define RADIOLINE_FUZZ_FUZZ_LINE_H

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

using Bytes = std::vector<std::uint8_t>;

// Aborts with `what` when `condition` is false: a finding for libFuzzer.
void require(bool condition, const char *what);

// The library's line for one run: one end of a socket pair is installed as
// `serfh`, the test keeps the other. What the radio sends is written to the
// test's end before the call, whose write side is then shut so that reading
// past it ends in EPIPE instead of a five-second wait; what the library
// writes stays readable at the test's end.
class FuzzLine {
 public:
  FuzzLine();
  ~FuzzLine();
  FuzzLine(const FuzzLine &) = delete;
  FuzzLine &operator=(const FuzzLine &) = delete;

  // Queues bytes for the library to read, without ending the line.
  void send(const Bytes &bytes) const;
  // Queues bytes and then ends the line.
  void send_last(const Bytes &bytes) const;
  // Every byte the library has written so far.
  Bytes written() const;

 private:
  int radio_ = -1;
};

// The wire bytes of one frame, the body escaped.
Bytes wire_frame(int to, int from, const Bytes &body);

// What the frame receiver reports for one frame: its result code, the
// addresses (as they stood when it stopped) and the body bytes it stored.
struct ModelFrame {
  int rc = 0;
  int to = 0;
  int from = 0;
  Bytes body;
};

// The receiver's contract applied to a fixed byte stream that ends in EPIPE.
class ModelLine {
 public:
  explicit ModelLine(Bytes stream) : stream_(std::move(stream)) {}

  // The next frame as rcvresp() reports it, storing at most `bufsize` body
  // bytes; `to` and `from` are the caller's values before the call.
  ModelFrame receive(int bufsize, int to, int from);

  // The frame a command exchange from `from` to `to` takes as its reply: the
  // first one sent by `to` to `from`, or the failure before it.
  ModelFrame reply(int to, int from, int bufsize);

 private:
  bool next(std::uint8_t *c);
  int read_body(ModelFrame *frame, int bufsize);

  Bytes stream_;
  std::size_t pos_ = 0;
};

#endif  // RADIOLINE_FUZZ_FUZZ_LINE_H
