// SPDX-License-Identifier: MIT
// Frames on the wire: body-byte escaping both ways, sendcmd, rcvresp, readers without storage.
#include <cerrno>
#include <iterator>
#include <string>
#include <tuple>
#include <utility>

#include "kit.h"
#include "radioline.h"

namespace {

// What a variable holds before a call that must not store into it.
constexpr int kUntouched = 0x5A5A;

using FrameTest = LineTest;

// The escaping steps trace a line of their own each way.
TEST_F(FrameTest, EscapesEachBodyByteTheSameWayBothWays) {
  const std::pair<unsigned char, const char *> forms[] = {
      {0x00, "00"}, {0x0D, "0D"}, {0xFC, "FC"}, {0xFD, "FF 0D"}, {0xFE, "FF 0E"}, {0xFF, "FF 0F"}};
  for (const auto &[byte, wire] : forms) {
    SCOPED_TRACE(wire);
    ASSERT_EQ(charout(byte), 0);
    EXPECT_EQ(radio_.take(), hex(wire));
    radio_.send(hex(wire));
    unsigned char c = 0;
    ASSERT_EQ(charin(&c), 0);
    EXPECT_EQ(c, byte);
  }
  debug = 1;
  const std::string trace = stderrOf([] { charout(0xFF); });
  EXPECT_NE(trace.find("charout: escaping; rawcharout(0xff)\n"), std::string::npos) << trace;
  EXPECT_EQ(radio_.take(), hex("FF 0F"));
  radio_.send(hex("FF 0D"));
  EXPECT_NE(stderrOf([] {
              unsigned char c = 0;
              charin(&c);
            }).find("charin: escaping; calling rawcharin\n"),
            std::string::npos);
}

TEST_F(FrameTest, SendcmdSendsEachFrameByteForByte) {
  const std::tuple<int, int, const char *, int, const char *> frames[] = {
      {0x20, 0x91, "AA 02", 2, "FE FE 20 91 AA 02 FD"},
      {0x20, 0x91, "AA FD FE FF FC", 5, "FE FE 20 91 AA FF 0D FF 0E FF 0F FC FD"},
      {0x20, 0x91, "", 0, "FE FE 20 91 FD"},
      {0x20, 0x91, "", -1, "FE FE 20 91 FD"},
      {252, 252, "AA", 1, "FE FE FC FC AA FD"},
      {0x20 - 0x100, 0x91 - 0x100, "AA", 1, "FE FE 20 91 AA FD"},  // low bytes only
  };
  for (const auto &[to, from, body, cmdlen, wire] : frames) {
    SCOPED_TRACE(wire);
    Bytes bytes = hex(body);
    ASSERT_EQ(sendcmd(to, from, bytes.empty() ? nullptr : bytes.data(), cmdlen), 0);
    EXPECT_EQ(radio_.take(), hex(wire));
  }
}

TEST_F(FrameTest, SendcmdRefusesAnAddressAbove252WithEinvalAndSendsNothing) {
  unsigned char body[] = {0xAA};
  const std::pair<int, int> rows[] = {{253, 0x91}, {0x20, 253}, {0x120, 0x91}, {0x20, 0x191}};
  for (const auto &[to, from] : rows) {
    SCOPED_TRACE(std::to_string(to) + " " + std::to_string(from));
    errno = 0;
    EXPECT_EQ(sendcmd(to, from, body, 1), EINVAL);
    EXPECT_EQ(errno, EINVAL);
  }
  EXPECT_EQ(radio_.take(), Bytes{});
}

TEST_F(FrameTest, SendcmdReturnsTheErrnoOfAFailingWrite) {
  radio_.hangUp();
  unsigned char body[] = {0xAA};
  errno = 0;
  EXPECT_EQ(sendcmd(0x20, 0x91, body, 1), EIO);
  EXPECT_EQ(errno, EIO);
}

// One rcvresp() call and everything it reported.
struct Received {
  int rc = -1;
  int to = kUntouched;
  int from = kUntouched;
  int resplen = kUntouched;
  Bytes body;
};

Received receive(int bufsize) {
  Received got;
  unsigned char resp[64];
  got.rc = rcvresp(&got.to, &got.from, resp, bufsize, &got.resplen);
  if (got.rc == 0 && got.resplen >= 0 && got.resplen <= bufsize) {
    got.body.assign(resp, resp + got.resplen);
  }
  return got;
}

// Each line delivers its bytes and then ends: a whole frame is read before
// the end, a cut one fails with EPIPE keeping the addresses that arrived.
TEST_F(FrameTest, RcvrespReportsTheAddressesAndBodyOfWhatEachLineDelivers) {
  const std::tuple<const char *, int, int, int, const char *> lines[] = {
      {"00 13 FE FE 91 20 FB FD", 0, 0x91, 0x20, "FB"},  // the noise before it is discarded
      {"FE FE 91 20 FD", 0, 0x91, 0x20, ""},
      {"FE FE 91 20 AA FF 0E 01 FD", 0, 0x91, 0x20, "AA FE 01"},
      {"FE FE 91 20 FF 0D 01 FD", 0, 0x91, 0x20, "FD 01"},  // an escaped FD does not end it
      {"FE FE FE 91 20 FD", 0, 0xFE, 0x91, "20"},           // a third start byte is an address
      {"00 13", EPIPE, kUntouched, kUntouched, ""},
      {"FE FE 91", EPIPE, 0x91, kUntouched, ""},
      {"FE FE 91 20 FF", EPIPE, 0x91, 0x20, ""},
  };
  for (const auto &[wire, rc, to, from, body] : lines) {
    SCOPED_TRACE(wire);
    FinishedLine line(hex(wire));
    ScopedSerfh reading(line.fd());
    const Received got = receive(32);
    EXPECT_EQ(got.rc, rc);
    EXPECT_EQ(got.to, to);
    EXPECT_EQ(got.from, from);
    EXPECT_EQ(got.body, hex(body));
    EXPECT_EQ(got.resplen, rc == 0 ? static_cast<int>(hex(body).size()) : kUntouched);
  }
}

// A bufsize of 0 or less reads no body byte at all.
TEST_F(FrameTest, RcvrespStoresAtMostBufsizeBytesAndTheNextHuntDiscardsTheRest) {
  for (const auto &[bufsize, stored] : {std::pair{2, "01 02"}, {0, ""}, {-1, ""}}) {
    SCOPED_TRACE(bufsize);
    radio_.send(hex("FE FE 91 20 01 02 03 04 FD FE FE 91 21 05 FD"));
    const Received got = receive(bufsize);
    EXPECT_EQ(got.resplen, static_cast<int>(hex(stored).size()));
    EXPECT_EQ(got.body, hex(stored));
    const Received next = receive(32);
    EXPECT_EQ(next.from, 0x21);
    EXPECT_EQ(next.body, hex("05"));
  }
}

TEST_F(FrameTest, RcvrespAbandonsABrokenStartWithEinvalAndErrnoUntouched) {
  radio_.send(hex("FE 00 FE FE 91 20 FB FD"));
  errno = EDOM;
  EXPECT_EQ(receive(32).rc, EINVAL);
  EXPECT_EQ(errno, EDOM);
  const Received next = receive(32);
  EXPECT_EQ(next.rc, 0) << "only the byte after the broken start may be consumed";
  EXPECT_EQ(next.body, hex("FB"));
}

// The frame waiting on the line is still whole afterwards.
TEST_F(FrameTest, ReadersGivenNoStorageReturnEinvalAndReadNothing) {
  radio_.send(hex("FE FE 91 20 FB FD"));
  static unsigned char c;
  static int n;
  int (*const calls[])() = {
      [] { return rawcharin(nullptr); },
      [] { return charin(nullptr); },
      [] { return rcvresp(nullptr, &n, &c, 1, &n); },
      [] { return rcvresp(&n, nullptr, &c, 1, &n); },
      [] { return rcvresp(&n, &n, nullptr, 1, &n); },
      [] { return rcvresp(&n, &n, &c, 1, nullptr); },
  };
  for (std::size_t i = 0; i < std::size(calls); i++) {
    SCOPED_TRACE(i);
    errno = 0;
    EXPECT_EQ(calls[i](), EINVAL);
    EXPECT_EQ(errno, EINVAL);
  }
  const Received got = receive(32);
  EXPECT_EQ(got.from, 0x20);
  EXPECT_EQ(got.body, hex("FB"));
}

}  // namespace
