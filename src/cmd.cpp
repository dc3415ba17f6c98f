// SPDX-License-Identifier: MIT
// Frames and the radio commands built on them. In order: sending and
// receiving one frame (FE FE, destination, source, escaped body, FD), the
// command exchange that every radio command runs (send the request, skip
// frames that do not concern it, judge the reply in its form), the command
// table, and the fifteen commands, each a few lines that check its own
// arguments, build its body and hand its row to the exchange. Bytes move
// through charout/charin and rawcharout/rawcharin in io.cpp; BCD comes from
// str.cpp. Request and reply buffers are fixed-size locals: nothing here
// allocates, and nothing survives a call but what a reader copies out.
#include <cerrno>

#include "internal.h"

using namespace radioline;

namespace {

// Reads one address byte of a frame header into `*address`.
int read_address(int *address) {
  unsigned char c = 0;
  const int rc = rawcharin(&c);
  if (rc == 0) *address = c;
  return rc;
}

// Discards everything before the next start byte.
int hunt_for_start() {
  unsigned char c = 0;
  do {
    trace("rcvresp: eating non-header characters\n");
    const int rc = rawcharin(&c);
    trace("rcvresp: rawcharin returned %d, eaten char %02x\n", rc, c);
    if (rc != 0) {
      trace_perror("rcvresp", rc);
      return rc;
    }
  } while (c != kFrameStart);
  return 0;
}

}  // namespace

int sendcmd(int to, int from, unsigned char *cmd, int cmdlen) {
  trace("sendcmd: to %02x from %02x\n", to, from);
  if (from > kMaxAddress || to > kMaxAddress) return fail_with(EINVAL);

  trace("sendcmd: sending header\n");
  const unsigned char header[] = {kFrameStart, kFrameStart,
                                  static_cast<unsigned char>(to),
                                  static_cast<unsigned char>(from)};
  for (unsigned char c : header) {
    const int rc = rawcharout(c);
    if (rc != 0) return rc;
  }
  trace("sendcmd: done sending header\n");

  for (int i = 0; i < cmdlen; i++) {
    trace("sendcmd: sending cmd byte %d: %02x\n", i + 1, cmd[i]);
    const int rc = charout(cmd[i]);
    if (rc != 0) return rc;
    trace("sendcmd: charout returned %d\n", 0);
  }

  trace("sendcmd: sending trailer\n");
  const int rc = rawcharout(kFrameEnd);
  if (rc != 0) return rc;
  trace("sendcmd: done sending trailer\n");
  return 0;
}

int rcvresp(int *to, int *from, unsigned char *resp, int bufsize,
            int *resplen) {
  int rc = hunt_for_start();
  if (rc != 0) return rc;
  trace("rcvresp: found beginning of header\n");

  unsigned char c = 0;
  rc = rawcharin(&c);
  if (rc != 0) return rc;
  if (c != kFrameStart) return EINVAL;  // a broken start; errno stays as it was

  rc = read_address(to);
  if (rc != 0) return rc;
  rc = read_address(from);
  if (rc != 0) return rc;
  trace("rcvresp: found full header, to=%02x from=%02x\n", *to, *from);
  trace("rcvresp: reading packet\n");

  int i = 0;
  while (i < bufsize) {
    trace("rcvresp: reading character\n");
    bool escaped = false;
    rc = charin_escaped(&c, &escaped);
    if (rc != 0) return rc;
    trace("rcvresp: charin returned %d; c=%02x\n", 0, c);
    if (c == kFrameEnd && !escaped) {
      trace("rcvresp: end of packet found\n");
      break;
    }
    resp[i++] = c;
  }
  trace("rcvresp: exited packet read loop; len=%d\n", i);
  *resplen = i;
  return 0;
}
