// SPDX-License-Identifier: MIT
// Frames on the line: body-byte escaping and sending and receiving one frame
// (FE FE, destination, source, escaped body, FD). charout() and charin()
// keep the frame's reserved bytes FD, FE and FF out of a body by sending
// each as FF and its low nibble; sendcmd() writes a whole frame and
// rcvresp() hunts for the next one and reads it into the caller's buffer.
// Bytes move through rawcharout() and rawcharin() in io.cpp; this file never
// touches the descriptor itself and keeps no state. The command exchange in
// cmd.cpp calls sendcmd() and rcvresp() on the line it holds; hosts and
// radioprobe may call all four directly, classic or on a handle, each call
// holding the line's lock for its frame or byte.
#include <cerrno>

#include "internal.h"

namespace radioline {
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
int charinEscaped(Line &line, unsigned char *c, bool *escaped) {
  *escaped = false;
  trace(line, "charin: calling rawcharin\n");
  int rc = rawcharin(line, c);
  trace(line, "charin: rawcharin returned %d, c=%02x\n", rc, *c);
  if (rc != 0 || *c != kFrameEscape) return rc;

  trace(line, "charin: escaping; calling rawcharin\n");
  rc = rawcharin(line, c);
  trace(line, "charin: rawcharin returned %d, c=%02x\n", rc, *c);
  if (rc != 0) return rc;
  *c |= kEscapeRestore;
  *escaped = true;
  return 0;
}

// Reads one address byte of a frame header into `*address`.
int readAddress(Line &line, int *address) {
  unsigned char c = 0;
  const int rc = rawcharin(line, &c);
  if (rc == 0) *address = c;
  return rc;
}

// Discards everything before the next start byte.
int huntForStart(Line &line) {
  unsigned char c = 0;
  do {
    trace(line, "rcvresp: eating non-header characters\n");
    const int rc = rawcharin(line, &c);
    trace(line, "rcvresp: rawcharin returned %d, eaten char %02x\n", rc, c);
    if (rc != 0) {
      tracePerror(line, "rcvresp", rc);
      return rc;
    }
  } while (c != kFrameStart);
  return 0;
}

}  // namespace

int charout(Line &line, unsigned char c) {
  if (c >= kFrameEnd) {
    trace(line, "charout: escaping; rawcharout(0xff)\n");
    const int rc = rawcharout(line, kFrameEscape);
    trace(line, "charout: rawcharout returned %d\n", rc);
    if (rc != 0) {
      tracePerror(line, "charout", rc);
      return rc;
    }
    c &= kEscapeKeep;
    trace(line, "charout: escaping; rawcharout(%02x)\n", c);
  } else {
    trace(line, "charout: not escaping; rawcharout(%02x)\n", c);
  }
  const int rc = rawcharout(line, c);
  trace(line, "charout: rawcharout returned %d\n", rc);
  if (rc != 0) tracePerror(line, "charout", rc);
  return rc;
}

int charin(Line &line, unsigned char *c) {
  if (c == nullptr) return failWith(EINVAL);
  bool escaped = false;
  return charinEscaped(line, c, &escaped);
}

int sendcmd(Line &line, int to, int from, const unsigned char *cmd, int cmdlen) {
  trace(line, "sendcmd: to %02x from %02x\n", to, from);
  if (from > kMaxAddress || to > kMaxAddress) return failWith(EINVAL);
  if (cmd == nullptr && cmdlen > 0) return failWith(EINVAL);

  trace(line, "sendcmd: sending header\n");
  const unsigned char header[] = {kFrameStart, kFrameStart, static_cast<unsigned char>(to),
                                  static_cast<unsigned char>(from)};
  for (unsigned char c : header) {
    const int rc = rawcharout(line, c);
    if (rc != 0) return rc;
  }
  trace(line, "sendcmd: done sending header\n");

  for (int i = 0; i < cmdlen; i++) {
    trace(line, "sendcmd: sending cmd byte %d: %02x\n", i + 1, cmd[i]);
    const int rc = charout(line, cmd[i]);
    if (rc != 0) return rc;
    trace(line, "sendcmd: charout returned %d\n", 0);
  }

  trace(line, "sendcmd: sending trailer\n");
  const int rc = rawcharout(line, kFrameEnd);
  if (rc != 0) return rc;
  trace(line, "sendcmd: done sending trailer\n");
  return 0;
}

int rcvresp(Line &line, int *to, int *from, unsigned char *resp, int bufsize, int *resplen) {
  if (to == nullptr || from == nullptr || resp == nullptr || resplen == nullptr) {
    return failWith(EINVAL);
  }
  int rc = huntForStart(line);
  if (rc != 0) return rc;
  trace(line, "rcvresp: found beginning of header\n");

  unsigned char c = 0;
  rc = rawcharin(line, &c);
  if (rc != 0) return rc;
  if (c != kFrameStart) return EINVAL;  // a broken start; errno stays as it was

  rc = readAddress(line, to);
  if (rc != 0) return rc;
  rc = readAddress(line, from);
  if (rc != 0) return rc;
  trace(line, "rcvresp: found full header, to=%02x from=%02x\n", *to, *from);
  trace(line, "rcvresp: reading packet\n");

  int i = 0;
  while (i < bufsize) {
    trace(line, "rcvresp: reading character\n");
    bool escaped = false;
    rc = charinEscaped(line, &c, &escaped);
    if (rc != 0) return rc;
    trace(line, "rcvresp: charin returned %d; c=%02x\n", 0, c);
    if (c == kFrameEnd && !escaped) {
      trace(line, "rcvresp: end of packet found\n");
      break;
    }
    resp[i++] = c;
  }
  trace(line, "rcvresp: exited packet read loop; len=%d\n", i);
  *resplen = i;
  return 0;
}

}  // namespace radioline

using namespace radioline;

int charout(unsigned char c) {
  return rl_charout(&defaultLine(), c);
}

int charin(unsigned char *c) {
  return rl_charin(&defaultLine(), c);
}

int sendcmd(int to, int from, unsigned char *cmd, int cmdlen) {
  return rl_sendcmd(&defaultLine(), to, from, cmd, cmdlen);
}

int rcvresp(int *to, int *from, unsigned char *resp, int bufsize, int *resplen) {
  return rl_rcvresp(&defaultLine(), to, from, resp, bufsize, resplen);
}

int rl_charout(radioline_line *line, unsigned char c) {
  return onLine(line, [c](Line &held) { return charout(held, c); });
}

int rl_charin(radioline_line *line, unsigned char *c) {
  return onLine(line, [c](Line &held) { return charin(held, c); });
}

int rl_sendcmd(radioline_line *line, int to, int from, unsigned char *cmd, int cmdlen) {
  return onLine(line, [&](Line &held) { return sendcmd(held, to, from, cmd, cmdlen); });
}

int rl_rcvresp(radioline_line *line, int *to, int *from, unsigned char *resp, int bufsize,
               int *resplen) {
  return onLine(line, [&](Line &held) { return rcvresp(held, to, from, resp, bufsize, resplen); });
}
