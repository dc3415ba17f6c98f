// SPDX-License-Identifier: MIT
// Covers radiosim: its frame codec, command decoder, state file and options, and the running
// process on its line.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "sim.h"
#include "simproc.h"
#include "state_file.h"

using namespace radiosim;
namespace fs = std::filesystem;

namespace {

std::vector<Frame> parseAll(const Bytes &wire) {
  FrameParser parser;
  std::vector<Frame> frames;
  for (std::uint8_t byte : wire) {
    if (auto frame = parser.feed(byte)) {
      frames.push_back(*frame);
    }
  }
  return frames;
}

// What the simulator sends for the last of `wire`'s frames.
std::optional<Transmission> lastTransmission(Simulator &sim, const Bytes &wire) {
  std::optional<Transmission> last;
  for (std::uint8_t byte : wire) {
    last = sim.receive(byte);
  }
  return last;
}

// A directory that goes away with the test.
class TempDir {
 public:
  TempDir() {
    std::string pattern = (fs::temp_directory_path() / "radiosim-test-XXXXXX").string();
    path_ = ::mkdtemp(pattern.data()) ? pattern : "";
  }
  ~TempDir() { fs::remove_all(path_); }
  std::string file(const char *name) const { return (fs::path(path_) / name).string(); }

 private:
  std::string path_;
};

const Bytes kSelectMode3{0xFE, 0xFE, 0x20, 0x91, 0x08, 0x03, 0xFD};
const Bytes kGetVersion{0xFE, 0xFE, 0x20, 0x91, 0xAA, 0x02, 0xFD};
const Bytes kAccepted{0xFE, 0xFE, 0x91, 0x20, 0xFB, 0xFD};

// A running radiosim with a client on its line.
struct Client {
  explicit Client(const std::vector<std::string> &options = {})
      : sim(options), line(sim.slavePath()) {}
  Bytes exchange(const Bytes &request, std::size_t replyLength) {
    return line.send(request) ? line.receive(replyLength) : Bytes{};
  }
  SimProcess sim;
  RawLine line;
};

}  // namespace

TEST(FrameParser, ParsesFrameAfterNoiseBytes) {
  const auto frames = parseAll({0x00, 0x13, 0xFE, 0xFE, 0x20, 0x91, 0x08, 0x01, 0xFD});
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].destination, 0x20);
  EXPECT_EQ(frames[0].source, 0x91);
  EXPECT_EQ(frames[0].body, (Bytes{0x08, 0x01}));
}

TEST(FrameParser, UnescapesReservedBytesWithoutEndingFrame) {
  const auto frames =
      parseAll({0xFE, 0xFE, 0x20, 0x91, 0xAA, 0xFF, 0x0D, 0xFF, 0x0E, 0xFF, 0x0F, 0xFD});
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].body, (Bytes{0xAA, 0xFD, 0xFE, 0xFF}));
}

TEST(FrameParser, AbandonsFrameWhenSecondStartByteIsMissing) {
  const auto frames =
      parseAll({0xFE, 0x00, 0x20, 0x91, 0x08, 0xFD, 0xFE, 0xFE, 0x20, 0x91, 0x09, 0xFD});
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].body, (Bytes{0x09}));
}

TEST(FrameParser, TakesExtraStartBytesAsPreamble) {
  const auto frames = parseAll({0xFE, 0xFE, 0xFE, 0x20, 0x91, 0x09, 0xFD});
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].destination, 0x20);
}

TEST(FrameParser, RestartsAtRawStartByteInsideBody) {
  const auto frames = parseAll({0xFE, 0xFE, 0x20, 0x91, 0x08, 0xFE, 0xFE, 0x20, 0x91, 0x0A, 0xFD});
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].body, (Bytes{0x0A}));
}

TEST(FrameParser, DropsBodyLongerThanItsCapAndFindsNextFrame) {
  Bytes wire{0xFE, 0xFE, 0x20, 0x91};
  wire.resize(wire.size() + kMaxBodyLength + 1, 0x01);
  wire.insert(wire.end(), {0xFD, 0xFE, 0xFE, 0x20, 0x91, 0x09, 0xFD});
  const auto frames = parseAll(wire);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].body, (Bytes{0x09}));
}

TEST(FrameEncoder, EscapesReservedBodyBytes) {
  EXPECT_EQ(
      encodeFrame(0x91, 0x20, {0xAA, 0x85, 0xFF, 0xFE, 0xFD, 0xFC}),
      (Bytes{0xFE, 0xFE, 0x91, 0x20, 0xAA, 0x85, 0xFF, 0x0F, 0xFF, 0x0E, 0xFF, 0x0D, 0xFC, 0xFD}));
}

TEST(Commands, SetsVfoFrequencyFromLittleEndianBcd) {
  Radio radio;
  const Outcome out = handle(radio, {0x05, 0x00, 0x00, 0x50, 0x45, 0x01});
  EXPECT_EQ(out.reply, (Bytes{0xFB}));
  EXPECT_EQ(out.log, "VFO set to 145.500000 MHz");
  EXPECT_EQ(radio.vfo.frequency, 145500000u);
}

TEST(Commands, SelectsModeSlotFromBcd) {
  Radio radio;
  const Outcome out = handle(radio, {0x08, 0x12});
  EXPECT_EQ(out.reply, (Bytes{0xFB}));
  EXPECT_EQ(out.log, "mode 12 selected");
  EXPECT_EQ(radio.mode, 12);
}

TEST(Commands, StoresVfoIntoCurrentModeSlot) {
  Radio radio;
  radio.mode = 3;
  radio.vfo.frequency = 146520000;
  const Outcome out = handle(radio, {0x09});
  EXPECT_EQ(out.reply, (Bytes{0xFB}));
  EXPECT_EQ(out.log, "mode 3 stored");
  EXPECT_EQ(radio.slots[3].frequency, 146520000u);
}

TEST(Commands, RecallsCurrentModeSlotIntoVfo) {
  Radio radio;
  radio.mode = 4;
  radio.slots[4].rxTone = 1000;
  radio.vfo.frequency = 7;
  const Outcome out = handle(radio, {0x0A});
  EXPECT_EQ(out.log, "mode 4 recalled");
  EXPECT_EQ(radio.vfo, radio.slots[4]);
}

TEST(Commands, SetsDuplexCodeUnchanged) {
  Radio radio;
  const Outcome out = handle(radio, {0x0F, 0x11});
  EXPECT_EQ(out.log, "duplex set to 11");
  EXPECT_EQ(radio.vfo.duplex, 0x11);
}

TEST(Commands, SetsTransmitToneFromBigEndianBcd) {
  Radio radio;
  const Outcome out = handle(radio, {0x1B, 0x00, 0x08, 0x85});
  EXPECT_EQ(out.reply, (Bytes{0xFB}));
  EXPECT_EQ(out.log, "tx PL set to 88.5");
  EXPECT_EQ(radio.vfo.txTone, 885);
}

TEST(Commands, SetsReceiveToneForNonZeroSelector) {
  Radio radio;
  const Outcome out = handle(radio, {0x1B, 0x01, 0x01, 0x00});
  EXPECT_EQ(out.log, "rx PL set to 10.0");
  EXPECT_EQ(radio.vfo.rxTone, 100);
}

TEST(Commands, WritesCodeplugIntoVfo) {
  Radio radio;
  Bytes body{0xAA, 0x01};
  for (std::uint8_t i = 1; i <= 16; ++i) {
    body.push_back(i);
  }
  EXPECT_EQ(handle(radio, body).reply, (Bytes{0xFB}));
  EXPECT_EQ(radio.vfo.codeplug, (Codeplug{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}));
}

TEST(Commands, AnswersCodeplugReadWithSixteenBytes) {
  Radio radio;
  radio.vfo.codeplug[0] = 0xFE;
  radio.vfo.codeplug[15] = 0x42;
  Bytes expected{0xAA, 0x80, 0xFE};
  expected.resize(17, 0x00);
  expected.push_back(0x42);
  const Outcome out = handle(radio, {0xAA, 0x00});
  EXPECT_EQ(out.reply, expected);
  EXPECT_EQ(out.log, "codeplug read");
}

TEST(Commands, AnswersVersionReadWithItsText) {
  Radio radio;
  radio.version = "v1";
  EXPECT_EQ(handle(radio, {0xAA, 0x02}).reply, (Bytes{0xAA, 0x82, 'v', '1'}));
}

TEST(Commands, AnswersConfigReadWithBothBytes) {
  Radio radio;
  radio.config = {0x12, 0x34};
  EXPECT_EQ(handle(radio, {0xAA, 0x03}).reply, (Bytes{0xAA, 0x83, 0x12, 0x34}));
}

TEST(Commands, WritesConfigBytesInOrder) {
  Radio radio;
  EXPECT_EQ(handle(radio, {0xAA, 0x04, 0x56, 0x78}).log, "config set to 56 78");
  EXPECT_EQ(radio.config, (Config{0x56, 0x78}));
}

TEST(Commands, AnswersOffsetReadLittleEndian) {
  Radio radio;
  radio.txOffset = 256;
  EXPECT_EQ(handle(radio, {0xAA, 0x05}).reply, (Bytes{0xAA, 0x85, 0x00, 0x01, 0x00, 0x00}));
}

TEST(Commands, WritesNegativeOffsetFromTwosComplement) {
  Radio radio;
  EXPECT_EQ(handle(radio, {0xAA, 0x06, 0xFF, 0xFF, 0xFF, 0xFF}).log, "tx offset set to -1");
  EXPECT_EQ(radio.txOffset, -1);
}

TEST(Commands, AnswersSplitReadReceiveFirst) {
  Radio radio;
  radio.rxSplit = 2;
  radio.txSplit = 1;
  EXPECT_EQ(handle(radio, {0xAA, 0x07}).reply, (Bytes{0xAA, 0x87, 0x02, 0, 0, 0, 0x01, 0, 0, 0}));
}

TEST(Commands, WritesSplitReceiveFirst) {
  Radio radio;
  EXPECT_EQ(handle(radio, {0xAA, 0x08, 0x02, 0, 0, 0, 0x01, 0, 0, 0}).log,
            "VCO split set to rx 2 tx 1");
  EXPECT_EQ(radio.rxSplit, 2);
  EXPECT_EQ(radio.txSplit, 1);
}

TEST(Commands, RefusesUnknownCommand) {
  Radio radio;
  const Outcome out = handle(radio, {0x42});
  EXPECT_EQ(out.reply, (Bytes{0xFA}));
  EXPECT_EQ(out.log, "refused: unknown command 42");
  EXPECT_FALSE(out.changed);
}

TEST(Commands, RefusesUnknownSubcommand) {
  Radio radio;
  EXPECT_EQ(handle(radio, {0xAA, 0x09}).log, "refused: unknown subcommand 09");
}

TEST(Commands, RefusesWrongBodyLength) {
  Radio radio;
  const Outcome out = handle(radio, {0x08, 0x01, 0x02});
  EXPECT_EQ(out.reply, (Bytes{0xFA}));
  EXPECT_EQ(out.log, "refused: select mode needs 2 bytes, got 3");
}

TEST(Commands, RefusesBcdDigitAboveNine) {
  for (const Bytes &body :
       {Bytes{0x05, 0x0A, 0, 0, 0, 0}, Bytes{0x08, 0x1A}, Bytes{0x1B, 0x00, 0xA0, 0x00}}) {
    Radio radio;
    const Outcome out = handle(radio, body);
    EXPECT_EQ(out.reply, (Bytes{0xFA}));
    EXPECT_FALSE(out.changed);
    EXPECT_EQ(formatState(radio), formatState(Radio{}));
  }
}

TEST(Commands, RefusesEmptyRequest) {
  Radio radio;
  EXPECT_EQ(handle(radio, {}).reply, (Bytes{0xFA}));
}

TEST(Simulator, IgnoresFramesForOtherAddresses) {
  Simulator sim(SimOptions{}, Radio{});
  const auto last = lastTransmission(sim, {0xFE, 0xFE, 0x30, 0x91, 0x08, 0x03, 0xFD});
  ASSERT_TRUE(last);
  EXPECT_TRUE(last->answer.empty());
  EXPECT_EQ(last->log, "ignored frame to 30 from 91");
}

TEST(Simulator, PicksOtherStationsThatAreNeitherRadioNorController) {
  SimOptions options;
  options.address = 0x30;
  options.otherStations = true;
  Simulator sim(options, Radio{});
  const auto last = lastTransmission(sim, {0xFE, 0xFE, 0x30, 0x40, 0x09, 0xFD});
  ASSERT_TRUE(last);
  ASSERT_GE(last->answer.size(), 4u);
  EXPECT_EQ(Bytes(last->answer.begin(), last->answer.begin() + 4), (Bytes{0xFE, 0xFE, 0x50, 0x60}));
}

TEST(Options, ParsesAddressInDecimalOrHex) {
  EXPECT_EQ(parseAddress("32"), std::optional<std::uint8_t>(0x20));
  EXPECT_EQ(parseAddress("0xFC"), std::optional<std::uint8_t>(0xFC));
}

TEST(Options, RefusesAddressAboveFc) {
  EXPECT_FALSE(parseAddress("0xFD"));
  EXPECT_FALSE(parseAddress("253"));
}

TEST(StateFile, RoundTripKeepsEverySetting) {
  TempDir dir;
  Radio radio;
  radio.mode = 7;
  radio.vfo = {145500000, 0x11, 885, 1000, Codeplug{0xFE, 0x01}};
  radio.slots[7] = radio.vfo;
  radio.config = {0x12, 0x34};
  radio.txOffset = -600000;
  radio.rxSplit = 2;
  radio.txSplit = 1;
  std::string error;
  ASSERT_TRUE(saveState(dir.file("state"), radio, error)) << error;
  Radio loaded;
  ASSERT_EQ(loadState(dir.file("state"), loaded, error), StateLoad::Loaded) << error;
  EXPECT_EQ(formatState(loaded), formatState(radio));
  EXPECT_EQ(loaded.slots[7], radio.vfo);
}

TEST(StateFile, SaveLeavesNoTemporaryFile) {
  TempDir dir;
  std::string error;
  ASSERT_TRUE(saveState(dir.file("state"), Radio{}, error));
  EXPECT_FALSE(fs::exists(dir.file("state.tmp")));
}

TEST(StateFile, ReportsMissingFile) {
  TempDir dir;
  Radio radio;
  std::string error;
  EXPECT_EQ(loadState(dir.file("none"), radio, error), StateLoad::Missing);
}

TEST(StateFile, NamesFileAndLineOfMalformedLine) {
  std::istringstream text("mode = 3\nbogus\n");
  Radio radio;
  std::string error;
  EXPECT_FALSE(parseState(text, "radio.state", radio, error));
  EXPECT_EQ(error, "radio.state:2: expected \"key = value\"");
  EXPECT_EQ(radio.mode, 0);
}

TEST(StateFile, RefusesModeSlotOutOfRange) {
  std::istringstream text("# comment\nmode = 100\n");
  Radio radio;
  std::string error;
  EXPECT_FALSE(parseState(text, "f", radio, error));
  EXPECT_EQ(error, "f:2: bad value \"100\" for mode");
}

TEST(StateFile, RefusesUnknownKey) {
  std::istringstream text("slot.100.duplex = 1\n");
  Radio radio;
  std::string error;
  EXPECT_FALSE(parseState(text, "f", radio, error));
  EXPECT_EQ(error, "f:1: unknown key \"slot.100.duplex\"");
}

TEST(RadiosimProcess, PrintsDevicePathFirst) {
  SimProcess sim;
  ASSERT_TRUE(sim.started());
  EXPECT_TRUE(fs::is_character_file(sim.slavePath()));
}

TEST(RadiosimProcess, KeepsLinkToDeviceUntilItEnds) {
  TempDir dir;
  SimProcess sim({kOptLink, dir.file("radio")});
  ASSERT_TRUE(sim.started());
  EXPECT_EQ(fs::read_symlink(dir.file("radio")), sim.slavePath());
  EXPECT_EQ(sim.stop(SIGTERM), 0);
  EXPECT_FALSE(fs::is_symlink(dir.file("radio")));
}

TEST(RadiosimProcess, EndsWithStatusZeroOnSigterm) {
  SimProcess sim;
  ASSERT_TRUE(sim.started());
  EXPECT_EQ(sim.stop(SIGTERM), 0);
}

TEST(RadiosimProcess, EndsWhenClientHangsUp) {
  Client client;
  ASSERT_EQ(client.exchange(kSelectMode3, kAccepted.size()), kAccepted);
  client.line.close();
  EXPECT_EQ(client.sim.waitForExit(), 0);
}

TEST(RadiosimProcess, StaysForNextClientWhenAskedTo) {
  Client client({kOptStay});
  ASSERT_EQ(client.exchange(kSelectMode3, kAccepted.size()), kAccepted);
  client.line.close();
  ASSERT_TRUE(client.sim.waitForOutput("client gone\n"));
  RawLine next(client.sim.slavePath());
  ASSERT_TRUE(next.isOpen());
  ASSERT_TRUE(next.send(kSelectMode3));
  EXPECT_EQ(next.receive(kAccepted.size()), kAccepted);
}

TEST(RadiosimProcess, AnswersStatusRequestWithExactBytes) {
  Client client;
  EXPECT_EQ(client.exchange(kSelectMode3, kAccepted.size()), kAccepted);
  EXPECT_TRUE(client.sim.waitForOutput("mode 3 selected\n"));
}

TEST(RadiosimProcess, AnswersDataRequestWithEscapedBytes) {
  Client client;
  client.exchange(
      {0xFE, 0xFE, 0x20, 0x91, 0xAA, 0x06, 0xFF, 0x0F, 0xFF, 0x0F, 0xFF, 0x0F, 0xFF, 0x0F, 0xFD},
      6);
  EXPECT_EQ(client.exchange({0xFE, 0xFE, 0x20, 0x91, 0xAA, 0x05, 0xFD}, 15),
            (Bytes{0xFE, 0xFE, 0x91, 0x20, 0xAA, 0x85, 0xFF, 0x0F, 0xFF, 0x0F, 0xFF, 0x0F, 0xFF,
                   0x0F, 0xFD}));
}

TEST(RadiosimProcess, AnswersVersionWithConfiguredText) {
  Client client({kOptVersionText, "v1.2"});
  EXPECT_EQ(client.exchange(kGetVersion, 11),
            (Bytes{0xFE, 0xFE, 0x91, 0x20, 0xAA, 0x82, 'v', '1', '.', '2', 0xFD}));
}

TEST(RadiosimProcess, AnswersAtConfiguredAddress) {
  Client client({kOptAddress, "0x30"});
  EXPECT_EQ(client.exchange({0xFE, 0xFE, 0x30, 0x91, 0x09, 0xFD}, 6),
            (Bytes{0xFE, 0xFE, 0x91, 0x30, 0xFB, 0xFD}));
}

TEST(RadiosimProcess, EchoesRequestBeforeReply) {
  Client client({kOptEcho});
  Bytes expected = kSelectMode3;
  expected.insert(expected.end(), kAccepted.begin(), kAccepted.end());
  EXPECT_EQ(client.exchange(kSelectMode3, expected.size()), expected);
}

TEST(RadiosimProcess, SendsOtherStationsFrameBeforeReply) {
  Client client({kOptOtherStations});
  Bytes expected{0xFE, 0xFE, 0x30, 0x40, 0xFA, 0xFF, 0x0D, 0xFD};
  expected.insert(expected.end(), kAccepted.begin(), kAccepted.end());
  EXPECT_EQ(client.exchange(kSelectMode3, expected.size()), expected);
}

TEST(RadiosimProcess, SendsNoiseBeforeEachFrame) {
  Client client({kOptNoise, kOptOtherStations});
  const Bytes expected{0x00, 0x13, 0xFD, 0x7F, 0xFE, 0xFE, 0x30, 0x40, 0xFA, 0xFF, 0x0D,
                       0xFD, 0x00, 0x13, 0xFD, 0x7F, 0xFE, 0xFE, 0x91, 0x20, 0xFB, 0xFD};
  EXPECT_EQ(client.exchange(kSelectMode3, expected.size()), expected);
}

TEST(RadiosimProcess, RefusesEveryNthCommand) {
  Client client({kOptRefuseEvery, "2"});
  ASSERT_EQ(client.exchange(kSelectMode3, kAccepted.size()), kAccepted);
  EXPECT_EQ(client.exchange(kSelectMode3, 6), (Bytes{0xFE, 0xFE, 0x91, 0x20, 0xFA, 0xFD}));
  EXPECT_TRUE(client.sim.waitForOutput("refused: every 2nd command\n"));
}

TEST(RadiosimProcess, LeavesEveryNthCommandUnanswered) {
  Client client({kOptSilentEvery, "2"});
  ASSERT_EQ(client.exchange(kSelectMode3, kAccepted.size()), kAccepted);
  ASSERT_TRUE(client.line.send(kGetVersion));
  EXPECT_EQ(client.exchange(kSelectMode3, kAccepted.size()), kAccepted);
  EXPECT_TRUE(client.sim.waitForOutput("silent (every 2nd command)\n"));
}

TEST(RadiosimProcess, PadsReplyBodyWithOverlongZeros) {
  Client client({kOptOverlong, "3"});
  EXPECT_EQ(client.exchange(kSelectMode3, 9),
            (Bytes{0xFE, 0xFE, 0x91, 0x20, 0xFB, 0x00, 0x00, 0x00, 0xFD}));
}

TEST(RadiosimProcess, AnswersAfterDelay) {
  Client client({kOptDelayMs, "20"});
  EXPECT_EQ(client.exchange(kSelectMode3, kAccepted.size()), kAccepted);
}

TEST(RadiosimProcess, CreatesMissingStateFile) {
  TempDir dir;
  SimProcess sim({kOptState, dir.file("state")});
  ASSERT_TRUE(sim.started());
  EXPECT_TRUE(fs::is_regular_file(dir.file("state")));
}

TEST(RadiosimProcess, KeepsStateAcrossRestart) {
  TempDir dir;
  {
    Client first({kOptState, dir.file("state")});
    ASSERT_EQ(first.exchange({0xFE, 0xFE, 0x20, 0x91, 0xAA, 0x04, 0x12, 0x34, 0xFD}, 6), kAccepted);
  }
  Client second({kOptState, dir.file("state")});
  EXPECT_EQ(second.exchange({0xFE, 0xFE, 0x20, 0x91, 0xAA, 0x03, 0xFD}, 9),
            (Bytes{0xFE, 0xFE, 0x91, 0x20, 0xAA, 0x83, 0x12, 0x34, 0xFD}));
}

TEST(RadiosimProcess, RefusesToStartWithMalformedStateFile) {
  TempDir dir;
  std::ofstream(dir.file("state")) << "mode = 3\nmode = x\n";
  SimProcess sim({kOptState, dir.file("state")});
  EXPECT_EQ(sim.waitForExit(), 1);
  EXPECT_NE(sim.errors().find(dir.file("state") + ":2: bad value \"x\" for mode"),
            std::string::npos);
  EXPECT_EQ(sim.output(), "");
}
