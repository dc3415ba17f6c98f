// SPDX-License-Identifier: MIT
// Frames on the wire: body-byte escaping both ways, sendcmd, rcvresp, readers without storage.
#include <unistd.h>

#include <cerrno>
#include <tuple>
#include <utility>

#include "kit.h"

namespace {

// What a variable holds before a call that must not store into it.
constexpr int kUntouched = 0x5A5A;

using FrameTest = LineTest;

// Only an address's low byte goes out; one above 252, judged on the whole
// value and not its low byte, or a NULL body of some length, is refused with
// EINVAL and nothing sent.
TEST_F(FrameTest, SendcmdPutsExactlyItsFrameOnTheLine) {
  const std::tuple<int, int, const char *, int, const char *> frames[] = {
      {0x20, 0x91, "AA FD FE FF FC", 5, "FE FE 20 91 AA FF 0D FF 0E FF 0F FC FD"},
      {0x20, 0x91, "", 0, "FE FE 20 91 FD"},
      {0x20, 0x91, "", -1, "FE FE 20 91 FD"},
      {252, 252, "AA", 1, "FE FE FC FC AA FD"},
      {0x20 - 0x100, 0x91 - 0x100, "AA", 1, "FE FE 20 91 AA FD"},
      {253, 0x91, "AA", 1, ""},
      {0x20, 253, "AA", 1, ""},
      {0x120, 0x191, "AA", 1, ""},
      {0x20, 0x91, "", 1, ""},  // no body to send
  };
  for (const auto &[to, from, body, cmdlen, wire] : frames) {
    SCOPED_TRACE(std::to_string(to) + " " + std::to_string(from) + ": " + wire);
    Bytes bytes = hex(body);
    const int refused = *wire == '\0' ? EINVAL : 0;
    errno = 0;
    ASSERT_EQ(sendcmd(to, from, bytes.empty() ? nullptr : bytes.data(), cmdlen), refused);
    EXPECT_TRUE(refused == 0 || errno == EINVAL) << errno;
    EXPECT_EQ(radio_.take(), hex(wire));
  }
}

// One rcvresp() call and everything it reported.
struct Received {
  int rc = -1, to = kUntouched, from = kUntouched, resplen = kUntouched;
  Bytes body;
};

Received receive(int bufsize) {
  Received got;
  unsigned char resp[64];
  got.rc = rcvresp(&got.to, &got.from, resp, bufsize, &got.resplen);
  if (got.rc == 0 && got.resplen >= 0 && got.resplen <= bufsize)
    got.body.assign(resp, resp + got.resplen);
  return got;
}

// Readers given no storage read nothing: the frame waiting on the line is
// still whole afterwards.
TEST_F(FrameTest, ReadersGivenNoStorageReturnEinval) {
  radio_.send(hex("FE FE 91 20 FB FD"));
  unsigned char c = 0;
  int n = 0;
  // Clears errno for the next call.
  const auto refused = [](int rc) { return rc == EINVAL && std::exchange(errno, 0) == EINVAL; };
  errno = 0;
  EXPECT_TRUE(refused(rawcharin(nullptr)));
  EXPECT_TRUE(refused(charin(nullptr)));
  EXPECT_TRUE(refused(rcvresp(nullptr, &n, &c, 1, &n)));
  EXPECT_TRUE(refused(rcvresp(&n, nullptr, &c, 1, &n)));
  EXPECT_TRUE(refused(rcvresp(&n, &n, nullptr, 1, &n)));
  EXPECT_TRUE(refused(rcvresp(&n, &n, &c, 1, nullptr)));
  EXPECT_EQ(receive(32).body, hex("FB"));
}

// Each line delivers its bytes and then ends. A reading stores at most
// bufsize body bytes (none for 0 or less) and leaves the next frame whole for
// the next reading, whose hunt discards the rest. A broken start fails
// leaving errno alone and consumes only the byte after it; a cut frame fails
// with EPIPE, keeping the addresses that arrived.
TEST_F(FrameTest, RcvrespReportsWhatEachLineDelivers) {
  const std::tuple<const char *, int, int, int, int, const char *> lines[] = {
      {"00 13 FE FE 91 20 FB FD", 32, 0, 0x91, 0x20, "FB"},  // the noise before it is discarded
      {"FE FE 91 20 FD", 32, 0, 0x91, 0x20, ""},
      {"FE FE 91 20 AA FF 0E FF 0F FC FD", 32, 0, 0x91, 0x20, "AA FE FF FC"},
      {"FE FE 91 20 FF 0D 01 FD", 32, 0, 0x91, 0x20, "FD 01"},  // an escaped FD does not end it
      {"FE FE FE 91 20 FD", 32, 0, 0xFE, 0x91, "20"},           // a third start byte is an address
      {"FE FE 91 20 01 02 03 04 FD", 2, 0, 0x91, 0x20, "01 02"},
      {"FE FE 91 20 01 02 FD", 0, 0, 0x91, 0x20, ""},
      {"FE FE 91 20 01 02 FD", -1, 0, 0x91, 0x20, ""},
      {"FE 00", 32, EINVAL, kUntouched, kUntouched, ""},
      {"00 13", 32, EPIPE, kUntouched, kUntouched, ""},
      {"FE FE 91", 32, EPIPE, 0x91, kUntouched, ""},
      {"FE FE 91 20 FF", 32, EPIPE, 0x91, 0x20, ""},
  };
  serclose();  // each line is a pipe in serfh
  for (const auto &[wire, bufsize, rc, to, from, body] : lines) {
    SCOPED_TRACE(wire);
    const Bytes bytes = hex(std::string(wire) + (rc == EPIPE ? "" : " FE FE 91 21 05 FD"));
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    ASSERT_EQ(write(ends[1], bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    close(ends[1]);  // the rest of the line reads as end of file
    serfh = ends[0];
    errno = EDOM;
    const Received got = receive(bufsize);
    EXPECT_EQ(got.rc, rc);
    EXPECT_TRUE(rc == 0 || errno == (rc == EPIPE ? EPIPE : EDOM)) << errno;
    EXPECT_EQ(std::tie(got.to, got.from, got.body), std::tuple(to, from, hex(body)));
    EXPECT_EQ(got.resplen, rc == 0 ? static_cast<int>(hex(body).size()) : kUntouched);
    const Received next = receive(32);
    EXPECT_EQ(std::tie(next.from, next.body),
              rc == EPIPE ? std::tuple(kUntouched, Bytes{}) : std::tuple(0x21, hex("05")));
    serclose();
  }
}

}  // namespace
