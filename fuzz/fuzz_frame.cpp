// SPDX-License-Identifier: MIT
// Fuzz: rcvresp on any bytes stays in its buffer; sendcmd and rcvresp agree with radiosim's
// encoder.
#include <algorithm>
#include <cerrno>

#include "frame.h"
#include "fuzz_line.h"

namespace {

constexpr std::uint8_t kUnwritten = 0xA5;
constexpr int kGuard = 16;  // bytes checked past the end of a buffer
// Longest body sent in the round trip: the library writes one byte per call
// and a socket buffer holds only a few hundred such writes.
constexpr std::size_t kMaxSentBody = 64;

// rcvresp(), storing into `bufsize` bytes followed by guard bytes.
int receive(int bufsize, int &to, int &from, Bytes &body) {
  Bytes resp(static_cast<std::size_t>(std::max(bufsize, 0)) + kGuard, kUnwritten);
  int resplen = -1;
  const int rc = rcvresp(&to, &from, resp.data(), bufsize, &resplen);
  require(std::count(resp.end() - kGuard, resp.end(), kUnwritten) == kGuard,
          "rcvresp wrote past bufsize");
  require(rc != 0 || (resplen >= 0 && resplen <= std::max(bufsize, 0)), "rcvresp length");
  body.assign(resp.begin(), resp.begin() + (rc == 0 ? resplen : 0));
  return rc;
}

}  // namespace

// Even first byte: every frame hunted out of any bytes is reported within its
// buffer, until the line ends. Odd: the frame sendcmd() writes between two
// usable addresses is radiosim's encoding of it, and comes back whole through
// rcvresp() (sendcmd's refusal of the other addresses has a test of its own).
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  if (size < 4) return 0;
  FuzzLine line;
  int to = -1, from = -1;
  Bytes body;
  if (data[0] % 2 == 0) {
    line.sendLast(Bytes(data + 2, data + size));
    for (int rc = 0, frames = 0; rc != EPIPE; frames++) {
      rc = receive(data[1] % 64 - 1, to, from, body);
      require(rc == 0 || rc == EINVAL || rc == EPIPE, "rcvresp result");
      require(frames <= static_cast<int>(size), "rcvresp makes progress");
    }
    return 0;
  }
  const int dest = data[2] % 253, source = data[3] % 253;
  Bytes sent_body(data + 4, data + std::min(size, 4 + kMaxSentBody));
  require(sendcmd(dest, source, sent_body.data(), static_cast<int>(sent_body.size())) == 0,
          "sendcmd to a usable address");
  const Bytes sent = line.written();
  require(sent == radiosim::encodeFrame(dest, source, sent_body), "sendcmd frame");
  line.sendLast(sent);
  require(receive(static_cast<int>(sent_body.size()) + data[1] % 4, to, from, body) == 0,
          "rcvresp of it");
  require(to == dest && from == source && body == sent_body, "round trip");
  return 0;
}
