// SPDX-License-Identifier: MIT
// Frames on the line: body-byte escaping and sending and receiving one frame
// (FE FE, destination, source, escaped body, FD). charout() and charin()
// keep the frame's reserved bytes FD, FE and FF out of a body by sending
// each as FF and its low nibble; sendcmd() writes a whole frame and
// rcvresp() hunts for the next one and reads it into the caller's buffer.
// Bytes move through rawcharout() and rawcharin() in io.cpp; this file never
// touches the descriptor itself and keeps no state. The command exchange in
// cmd.cpp calls sendcmd() and rcvresp(); hosts and radioprobe may call all
// four directly.
#include <cerrno>

#include "internal.h"

using namespace radioline;

namespace {

// Frame bytes. They never appear raw inside a body or an address field.
constexpr unsigned char kFrameEnd = 0xFD;       // ends every frame
constexpr unsigned char kFrameStart = 0xFE;     // two of them start a frame
constexpr unsigned char kFrameEscape = 0xFF;    // next byte is a body byte's low nibble
constexpr unsigned char kEscapeKeep = 0x0F;     // what an escaped byte keeps on the wire
constexpr unsigned char kEscapeRestore = 0xF0;  // what the receiver puts back

// Highest bus address: FD, FE and FF are the frame's own bytes.
constexpr int kMaxAddress = 0xFC;

// charin() that also says whether the byte arrived as an escape pair, so
// that the frame receiver can tell a raw end byte from an escaped one.
int charinEscaped(unsigned char *c, bool *escaped) {
  *escaped = false;
  trace("charin: calling rawcharin\n");
  int rc = rawcharin(c);
  trace("charin: rawcharin returned %d, c=%02x\n", rc, *c);
  if (rc != 0 || *c != kFrameEscape) return rc;

  trace("charin: escaping; calling rawcharin\n");
  rc = rawcharin(c);
  trace("charin: rawcharin returned %d, c=%02x\n", rc, *c);
  if (rc != 0) return rc;
  *c |= kEscapeRestore;
  *escaped = true;
  return 0;
}

// Reads one address byte of a frame header into `*address`.
int readAddress(int *address) {
  unsigned char c = 0;
  const int rc = rawcharin(&c);
  if (rc == 0) *address = c;
  return rc;
}

// Discards everything before the next start byte.
int huntForStart() {
  unsigned char c = 0;
  do {
    trace("rcvresp: eating non-header characters\n");
    const int rc = rawcharin(&c);
    trace("rcvresp: rawcharin returned %d, eaten char %02x\n", rc, c);
    if (rc != 0) {
      tracePerror("rcvresp", rc);
      return rc;
    }
  } while (c != kFrameStart);
  return 0;
}

}  // namespace

int charout(unsigned char c) {
  if (c >= kFrameEnd) {
    trace("charout: escaping; rawcharout(0xff)\n");
    const int rc = rawcharout(kFrameEscape);
    trace("charout: rawcharout returned %d\n", rc);
    if (rc != 0) {
      tracePerror("charout", rc);
      return rc;
    }
    c &= kEscapeKeep;
    trace("charout: escaping; rawcharout(%02x)\n", c);
  } else {
    trace("charout: not escaping; rawcharout(%02x)\n", c);
  }
  const int rc = rawcharout(c);
  trace("charout: rawcharout returned %d\n", rc);
  if (rc != 0) tracePerror("charout", rc);
  return rc;
}

int charin(unsigned char *c) {
  if (c == nullptr) return failWith(EINVAL);
  bool escaped = false;
  return charinEscaped(c, &escaped);
}

int sendcmd(int to, int from, unsigned char *cmd, int cmdlen) {
  trace("sendcmd: to %02x from %02x\n", to, from);
  if (from > kMaxAddress || to > kMaxAddress) return failWith(EINVAL);
  if (cmd == nullptr && cmdlen > 0) return failWith(EINVAL);

  trace("sendcmd: sending header\n");
  const unsigned char header[] = {kFrameStart, kFrameStart, static_cast<unsigned char>(to),
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

int rcvresp(int *to, int *from, unsigned char *resp, int bufsize, int *resplen) {
  if (to == nullptr || from == nullptr || resp == nullptr || resplen == nullptr) {
    return failWith(EINVAL);
  }
  int rc = huntForStart();
  if (rc != 0) return rc;
  trace("rcvresp: found beginning of header\n");

  unsigned char c = 0;
  rc = rawcharin(&c);
  if (rc != 0) return rc;
  if (c != kFrameStart) return EINVAL;  // a broken start; errno stays as it was

  rc = readAddress(to);
  if (rc != 0) return rc;
  rc = readAddress(from);
  if (rc != 0) return rc;
  trace("rcvresp: found full header, to=%02x from=%02x\n", *to, *from);
  trace("rcvresp: reading packet\n");

  int i = 0;
  while (i < bufsize) {
    trace("rcvresp: reading character\n");
    bool escaped = false;
    rc = charinEscaped(&c, &escaped);
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
