// SPDX-License-Identifier: MIT
// Frames on the wire: body-byte escaping both ways, sendcmd and rcvresp.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <utility>

#include "pty_radio.h"
#include "radioline.h"

namespace {

// What a variable holds before a call that must not store into it.
constexpr int kUntouched = 0x5A5A;
constexpr unsigned char kUntouchedByte = 0x5A;

// An errno value no call here produces, to show that errno was left alone.
constexpr int kErrnoSentinel = EDOM;

// ---------------------------------------------------------------------------
// charout and charin: one body byte.
// ---------------------------------------------------------------------------

// A body byte and the raw bytes it travels as.
using WireForm = std::pair<unsigned char, const char *>;

class CharoutTest : public LineTest, public ::testing::WithParamInterface<WireForm> {};

TEST_P(CharoutTest, WritesTheBytesWireForm) {
  ASSERT_EQ(charout(GetParam().first), 0);
  EXPECT_EQ(radio_.take(), hex(GetParam().second));
}

class CharinTest : public LineTest, public ::testing::WithParamInterface<WireForm> {};

TEST_P(CharinTest, ReadsTheWireFormAsTheByte) {
  radio_.send(hex(GetParam().second));
  unsigned char c = 0;
  ASSERT_EQ(charin(&c), 0);
  EXPECT_EQ(c, GetParam().first);
}

const WireForm kWireForms[] = {
    {0x00, "00"},    {0x13, "13"},    {0xAA, "AA"},    {0xFC, "FC"},
    {0xFD, "FF 0D"}, {0xFE, "FF 0E"}, {0xFF, "FF 0F"},
};

std::string wire_form_name(const ::testing::TestParamInfo<WireForm> &info) {
  const char digits[] = "0123456789ABCDEF";
  return std::string("Byte") + digits[info.param.first >> 4] + digits[info.param.first & 0xF];
}

INSTANTIATE_TEST_SUITE_P(BodyBytes, CharoutTest, ::testing::ValuesIn(kWireForms), wire_form_name);
INSTANTIATE_TEST_SUITE_P(BodyBytes, CharinTest, ::testing::ValuesIn(kWireForms), wire_form_name);

using CharoutLineTest = LineTest;

TEST_F(CharoutLineTest, TracesAnEscapedByte) {
  debug = 1;
  EXPECT_EQ(stderr_of([] { charout(0xFE); }),
            "charout: escaping; rawcharout(0xff)\n" + rawcharout_trace(0xFF) +
                "charout: rawcharout returned 0\n"
                "charout: escaping; rawcharout(0e)\n" +
                rawcharout_trace(0x0E) + "charout: rawcharout returned 0\n");
}

TEST_F(CharoutLineTest, ReturnsTheCodeOfAFailingWrite) {
  radio_.hang_up();
  EXPECT_EQ(charout(0x41), EIO);
}

TEST_F(CharoutLineTest, StopsAfterAFailedEscapeByte) {
  radio_.hang_up();
  debug = 1;
  int rc = 0;
  const std::string trace = stderr_of([&] { rc = charout(0xFD); });
  EXPECT_EQ(rc, EIO);
  EXPECT_EQ(trace,
            "charout: escaping; rawcharout(0xff)\n"
            "rawcharout: writing ff\n"
            "rawcharout: write returned -1\n"
            "rawcharout: Input/output error\n"
            "charout: rawcharout returned 5\n"
            "charout: Input/output error\n");
}

using CharinLineTest = LineTest;

TEST_F(CharinLineTest, TracesAnEscapePair) {
  radio_.send(hex("FF 0D"));
  unsigned char c = 0;
  debug = 1;
  EXPECT_EQ(stderr_of([&] { charin(&c); }), "charin: calling rawcharin\n" + rawcharin_trace() +
                                                "charin: rawcharin returned 0, c=ff\n"
                                                "charin: escaping; calling rawcharin\n" +
                                                rawcharin_trace() +
                                                "charin: rawcharin returned 0, c=0d\n");
}

TEST_F(CharinLineTest, ReturnsTheCodeOfAFailingReadAfterTheEscapeByte) {
  FinishedLine finished(hex("FF"));
  ScopedSerfh line(finished.fd());
  unsigned char c = 0;
  EXPECT_EQ(charin(&c), EPIPE);
}

// ---------------------------------------------------------------------------
// sendcmd.
// ---------------------------------------------------------------------------

using SendcmdTest = LineTest;

TEST_F(SendcmdTest, SendsTheFirmwareVersionRequestByteForByte) {
  unsigned char body[] = {0xAA, 0x02};
  ASSERT_EQ(sendcmd(0x20, 0x91, body, 2), 0);
  EXPECT_EQ(radio_.take(), hex("FE FE 20 91 AA 02 FD"));
}

TEST_F(SendcmdTest, SendsOnlyTheHeaderAndTheEndByteWhenCmdlenIsZero) {
  ASSERT_EQ(sendcmd(0x20, 0x91, nullptr, 0), 0);
  EXPECT_EQ(radio_.take(), hex("FE FE 20 91 FD"));
}

TEST_F(SendcmdTest, SendsOnlyTheHeaderAndTheEndByteWhenCmdlenIsNegative) {
  ASSERT_EQ(sendcmd(0x20, 0x91, nullptr, -1), 0);
  EXPECT_EQ(radio_.take(), hex("FE FE 20 91 FD"));
}

TEST_F(SendcmdTest, EscapesEveryReservedByteOfTheBody) {
  unsigned char body[] = {0xAA, 0xFD, 0xFE, 0xFF, 0xFC};
  ASSERT_EQ(sendcmd(0x20, 0x91, body, 5), 0);
  EXPECT_EQ(radio_.take(), hex("FE FE 20 91 AA FF 0D FF 0E FF 0F FC FD"));
}

TEST_F(SendcmdTest, RefusesADestinationAbove252AndSendsNothing) {
  unsigned char body[] = {0xAA};
  errno = 0;
  EXPECT_EQ(sendcmd(253, 0x91, body, 1), EINVAL);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(radio_.take(), Bytes{});
}

TEST_F(SendcmdTest, RefusesASourceAbove252AndSendsNothing) {
  unsigned char body[] = {0xAA};
  errno = 0;
  EXPECT_EQ(sendcmd(0x20, 253, body, 1), EINVAL);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(radio_.take(), Bytes{});
}

TEST_F(SendcmdTest, AcceptsAddress252) {
  unsigned char body[] = {0xAA};
  ASSERT_EQ(sendcmd(252, 252, body, 1), 0);
  EXPECT_EQ(radio_.take(), hex("FE FE FC FC AA FD"));
}

TEST_F(SendcmdTest, SendsOnlyTheLowByteOfANegativeAddress) {
  unsigned char body[] = {0xAA};
  ASSERT_EQ(sendcmd(0x20 - 0x100, 0x91 - 0x100, body, 1), 0);
  EXPECT_EQ(radio_.take(), hex("FE FE 20 91 AA FD"));
}

TEST_F(SendcmdTest, TracesARefusalWithItsFirstLineOnly) {
  debug = 1;
  EXPECT_EQ(stderr_of([] { sendcmd(253, 0x91, nullptr, 0); }), "sendcmd: to fd from 91\n");
}

TEST_F(SendcmdTest, ReturnsTheCodeOfTheFirstFailingWrite) {
  radio_.hang_up();
  unsigned char body[] = {0xAA};
  EXPECT_EQ(sendcmd(0x20, 0x91, body, 1), EIO);
}

TEST_F(SendcmdTest, TracesOneFrameLineByLine) {
  unsigned char body[] = {0xAA, 0xFD};
  debug = 1;
  EXPECT_EQ(stderr_of([&] { sendcmd(0x20, 0x91, body, 2); }),
            "sendcmd: to 20 from 91\n"
            "sendcmd: sending header\n" +
                rawcharout_trace(0xFE) + rawcharout_trace(0xFE) + rawcharout_trace(0x20) +
                rawcharout_trace(0x91) +
                "sendcmd: done sending header\n"
                "sendcmd: sending cmd byte 1: aa\n"
                "charout: not escaping; rawcharout(aa)\n" +
                rawcharout_trace(0xAA) +
                "charout: rawcharout returned 0\n"
                "sendcmd: charout returned 0\n"
                "sendcmd: sending cmd byte 2: fd\n"
                "charout: escaping; rawcharout(0xff)\n" +
                rawcharout_trace(0xFF) +
                "charout: rawcharout returned 0\n"
                "charout: escaping; rawcharout(0d)\n" +
                rawcharout_trace(0x0D) +
                "charout: rawcharout returned 0\n"
                "sendcmd: charout returned 0\n"
                "sendcmd: sending trailer\n" +
                rawcharout_trace(0xFD) + "sendcmd: done sending trailer\n");
}

// ---------------------------------------------------------------------------
// rcvresp.
// ---------------------------------------------------------------------------

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

using RcvrespTest = LineTest;

TEST_F(RcvrespTest, DiscardsNoiseBeforeTheStartBytes) {
  radio_.send(hex("00 13 FE FE 91 20 FB FD"));
  const Received got = receive(32);
  ASSERT_EQ(got.rc, 0);
  EXPECT_EQ(got.to, 0x91);
  EXPECT_EQ(got.from, 0x20);
  EXPECT_EQ(got.resplen, 1);
  EXPECT_EQ(got.body, hex("FB"));
}

TEST_F(RcvrespTest, ReadsAFrameWithAnEmptyBody) {
  radio_.send(hex("FE FE 91 20 FD"));
  const Received got = receive(32);
  ASSERT_EQ(got.rc, 0);
  EXPECT_EQ(got.resplen, 0);
}

TEST_F(RcvrespTest, UnescapesAStartByteInTheBody) {
  radio_.send(hex("FE FE 91 20 AA FF 0E 01 FD"));
  const Received got = receive(32);
  ASSERT_EQ(got.rc, 0);
  EXPECT_EQ(got.body, hex("AA FE 01"));
}

TEST_F(RcvrespTest, DoesNotEndTheFrameAtAnEscapedEndByte) {
  radio_.send(hex("FE FE 91 20 FF 0D 01 FD"));
  const Received got = receive(32);
  ASSERT_EQ(got.rc, 0);
  EXPECT_EQ(got.body, hex("FD 01"));
}

TEST_F(RcvrespTest, StoresNoMoreThanBufsizeBodyBytes) {
  radio_.send(hex("FE FE 91 20 01 02 03 04 FD"));
  unsigned char resp[4] = {kUntouchedByte, kUntouchedByte, kUntouchedByte, kUntouchedByte};
  int to = 0;
  int from = 0;
  int resplen = 0;
  ASSERT_EQ(rcvresp(&to, &from, resp, 2, &resplen), 0);
  EXPECT_EQ(resplen, 2);
  EXPECT_EQ(Bytes(resp, resp + 4), hex("01 02 5A 5A"));
}

TEST_F(RcvrespTest, FindsTheFrameThatFollowsAnOverLongOne) {
  radio_.send(hex("FE FE 91 20 01 02 03 04 FD FE FE 91 21 05 FD"));
  ASSERT_EQ(receive(2).rc, 0);
  const Received next = receive(32);
  ASSERT_EQ(next.rc, 0);
  EXPECT_EQ(next.from, 0x21);
  EXPECT_EQ(next.body, hex("05"));
}

TEST_F(RcvrespTest, ReadsNoBodyByteWhenBufsizeIsZero) {
  radio_.send(hex("FE FE 91 20 AA FD"));
  const Received got = receive(0);
  ASSERT_EQ(got.rc, 0);
  EXPECT_EQ(got.resplen, 0);
  unsigned char c = 0;
  ASSERT_EQ(rawcharin(&c), 0);
  EXPECT_EQ(c, 0xAA) << "the body's first byte should still be on the line";
}

TEST_F(RcvrespTest, ReadsNoBodyByteWhenBufsizeIsNegative) {
  radio_.send(hex("FE FE 91 20 AA FD"));
  const Received got = receive(-1);
  ASSERT_EQ(got.rc, 0);
  EXPECT_EQ(got.resplen, 0);
  unsigned char c = 0;
  ASSERT_EQ(rawcharin(&c), 0);
  EXPECT_EQ(c, 0xAA) << "the body's first byte should still be on the line";
}

TEST_F(RcvrespTest, RejectsABrokenStartWithEinvalAndLeavesErrnoAlone) {
  radio_.send(hex("FE 00"));
  errno = kErrnoSentinel;
  EXPECT_EQ(receive(32).rc, EINVAL);
  EXPECT_EQ(errno, kErrnoSentinel);
}

TEST_F(RcvrespTest, ConsumesOnlyTheByteAfterABrokenStart) {
  radio_.send(hex("FE 00 FE FE 91 20 FB FD"));
  ASSERT_EQ(receive(32).rc, EINVAL);
  unsigned char c = 0;
  ASSERT_EQ(rawcharin(&c), 0);
  EXPECT_EQ(c, 0xFE) << "the next frame's first start byte should still be on the line";
}

TEST_F(RcvrespTest, TakesAThirdStartByteAsTheDestination) {
  radio_.send(hex("FE FE FE 91 20 FD"));
  const Received got = receive(32);
  ASSERT_EQ(got.rc, 0);
  EXPECT_EQ(got.to, 0xFE);
  EXPECT_EQ(got.from, 0x91);
  EXPECT_EQ(got.body, hex("20"));
}

TEST_F(RcvrespTest, KeepsTheAddressesOfAFrameThatBreaksOff) {
  FinishedLine finished(hex("FE FE 91 20 AA"));
  ScopedSerfh line(finished.fd());
  const Received got = receive(32);
  ASSERT_EQ(got.rc, EPIPE);
  EXPECT_EQ(got.to, 0x91);
  EXPECT_EQ(got.from, 0x20);
}

TEST_F(RcvrespTest, StoresTheDestinationBeforeTheSourceArrives) {
  FinishedLine finished(hex("FE FE 91"));
  ScopedSerfh line(finished.fd());
  const Received got = receive(32);
  ASSERT_EQ(got.rc, EPIPE);
  EXPECT_EQ(got.to, 0x91);
  EXPECT_EQ(got.from, kUntouched);
}

TEST_F(RcvrespTest, LeavesResplenAloneWhenItFails) {
  FinishedLine finished(hex("FE FE 91 20 AA"));
  ScopedSerfh line(finished.fd());
  const Received got = receive(32);
  ASSERT_EQ(got.rc, EPIPE);
  EXPECT_EQ(got.resplen, kUntouched);
}

TEST_F(RcvrespTest, ReturnsEpipeWhenTheLineEndsDuringTheHunt) {
  FinishedLine finished(hex("00 13"));
  ScopedSerfh line(finished.fd());
  errno = 0;
  EXPECT_EQ(receive(32).rc, EPIPE);
  EXPECT_EQ(errno, EPIPE);
}

TEST_F(RcvrespTest, ReturnsEpipeWhenTheLineEndsAfterAnEscapeByte) {
  FinishedLine finished(hex("FE FE 91 20 FF"));
  ScopedSerfh line(finished.fd());
  EXPECT_EQ(receive(32).rc, EPIPE);
}

TEST_F(RcvrespTest, ReturnsEbadfWithNoDeviceOpen) {
  ScopedSerfh none(-1);
  EXPECT_EQ(receive(32).rc, EBADF);
}

TEST_F(RcvrespTest, ReturnsTheErrnoOfAFailingRead) {
  const int directory = open(".", O_RDONLY | O_DIRECTORY);
  ASSERT_GE(directory, 0) << strerror(errno);
  int rc = 0;
  {
    ScopedSerfh line(directory);
    rc = receive(32).rc;
  }
  close(directory);
  EXPECT_EQ(rc, EISDIR);
}

TEST_F(RcvrespTest, TracesOneFrameLineByLine) {
  radio_.send(hex("13 FE FE 91 20 FF 0D FD"));
  debug = 1;
  EXPECT_EQ(stderr_of([] { receive(32); }),
            "rcvresp: eating non-header characters\n" + rawcharin_trace() +
                "rcvresp: rawcharin returned 0, eaten char 13\n"
                "rcvresp: eating non-header characters\n" +
                rawcharin_trace() +
                "rcvresp: rawcharin returned 0, eaten char fe\n"
                "rcvresp: found beginning of header\n" +
                rawcharin_trace() + rawcharin_trace() + rawcharin_trace() +
                "rcvresp: found full header, to=91 from=20\n"
                "rcvresp: reading packet\n"
                "rcvresp: reading character\n"
                "charin: calling rawcharin\n" +
                rawcharin_trace() +
                "charin: rawcharin returned 0, c=ff\n"
                "charin: escaping; calling rawcharin\n" +
                rawcharin_trace() +
                "charin: rawcharin returned 0, c=0d\n"
                "rcvresp: charin returned 0; c=fd\n"
                "rcvresp: reading character\n"
                "charin: calling rawcharin\n" +
                rawcharin_trace() +
                "charin: rawcharin returned 0, c=fd\n"
                "rcvresp: charin returned 0; c=fd\n"
                "rcvresp: end of packet found\n"
                "rcvresp: exited packet read loop; len=1\n");
}

TEST_F(RcvrespTest, TracesAFailedHuntWithThePerrorLine) {
  FinishedLine finished;
  ScopedSerfh line(finished.fd());
  debug = 1;
  EXPECT_EQ(stderr_of([] { receive(32); }),
            "rcvresp: eating non-header characters\n"
            "rawcharin: calling select\n"
            "rawcharin: select returned 1\n"
            "rawcharin: reading a character\n"
            "rawcharin: read returned 0\n"
            "rcvresp: rawcharin returned 32, eaten char 00\n"
            "rcvresp: Broken pipe\n");
}

// ---------------------------------------------------------------------------
// Silence with debug off.
// ---------------------------------------------------------------------------

using FrameSilenceTest = LineTest;

TEST_F(FrameSilenceTest, WritesNothingAnywhereWithDebugOff) {
  radio_.send(hex("00 FE FE 91 20 FF 0E FD FE 00"));
  const std::string output = output_of([] {
    unsigned char body[] = {0xAA, 0xFE};
    sendcmd(0x20, 0x91, body, 2);
    sendcmd(253, 0x91, body, 2);
    receive(32);
    receive(32);
    ScopedSerfh none(-1);
    sendcmd(0x20, 0x91, body, 2);
    receive(32);
  });
  EXPECT_EQ(output, "");
}

}  // namespace
