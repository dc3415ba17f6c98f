// SPDX-License-Identifier: MIT
// Fuzz: rcvresp on any bytes stays in its buffer; sendcmd and rcvresp agree with radiosim's
// encoder.
#include <algorithm>
#include <cerrno>

#include "frame.h"
#include "fuzz_line.h"

namespace {

constexpr std::uint8_t kUnwritten = 0xA5;
constexpr std::size_t kGuard = 16;  // bytes checked past the end of a buffer
// Longest body sent in the round trip: the library writes one byte per call
// and a socket buffer holds only a few hundred such writes.
constexpr std::size_t kMaxSentBody = 64;

// rcvresp(), storing into `bufsize` bytes followed by guard bytes.
int receive(int bufsize, int &to, int &from, Bytes &body) {
  Bytes resp(static_cast<std::size_t>(std::max(bufsize, 0)) + kGuard, kUnwritten);
  int resplen = -1;
  const int rc = rcvresp(&to, &from, resp.data(), bufsize, &resplen);
  require(
      std::all_of(resp.end() - kGuard, resp.end(), [](std::uint8_t b) { return b == kUnwritten; }),
      "rcvresp wrote past bufsize");
  require(rc != 0 || (resplen >= 0 && resplen <= std::max(bufsize, 0)), "rcvresp length");
  body.assign(resp.begin(), resp.begin() + (rc == 0 ? resplen : 0));
  return rc;
}

// Any bytes: every frame hunted out of them is reported within its buffer,
// until the line ends.
void receiveAnything(std::uint8_t size, const Bytes &line) {
  FuzzLine fuzz;
  fuzz.sendLast(line);
  for (int rc = 0, frames = 0; rc != EPIPE; frames++) {
    int to = -1, from = -1;
    Bytes body;
    rc = receive(size % 64 - 1, to, from, body);
    require(rc == 0 || rc == EINVAL || rc == EPIPE, "rcvresp result");
    require(frames <= static_cast<int>(line.size()), "rcvresp makes progress");
  }
}

// The frame sendcmd() writes is radiosim's encoding of it, and comes back
// whole through rcvresp(); a reserved address sends nothing.
void roundTrip(std::uint8_t size, const Bytes &line) {
  if (line.size() < 2) return;
  Bytes body(line.begin() + 2, line.begin() + 2 + std::min(line.size() - 2, kMaxSentBody));
  FuzzLine fuzz;
  errno = 0;
  const int rc = sendcmd(line[0], line[1], body.data(), static_cast<int>(body.size()));
  const int error = errno;
  const Bytes sent = fuzz.written();
  if (line[0] > radiosim::kMaxAddress || line[1] > radiosim::kMaxAddress) {
    require(rc == EINVAL && error == EINVAL && sent.empty(), "sendcmd refuses a reserved address");
    return;
  }
  require(rc == 0 && sent == radiosim::encodeFrame(line[0], line[1], body), "sendcmd frame");
  fuzz.sendLast(sent);
  int to = -1, from = -1;
  Bytes got;
  require(receive(static_cast<int>(body.size()) + size % 4, to, from, got) == 0, "rcvresp of it");
  require(to == line[0] && from == line[1] && got == body, "round trip");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  if (size < 2) return 0;
  const Bytes line(data + 2, data + size);
  (data[0] % 2 == 0 ? receiveAnything : roundTrip)(data[1], line);
  return 0;
}
