// SPDX-License-Identifier: MIT
// radiosim: its framing, answers, mode slots, state file, life as a process and line behaviours.
#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <map>
#include <ostream>
#include <sstream>
#include <tuple>

#include "kit.h"
#include "sim.h"
#include "state_file.h"

using namespace radiosim;
namespace fs = std::filesystem;

namespace {

const std::string kCodeplug = "01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10";
const std::string kAccepted = "FE FE 91 20 FB FD";

std::string repeated(const std::string &text, std::size_t times) {
  std::string all;
  while (times-- > 0) all += text;
  return all;
}

// The settings a mode slot keeps, compared field by field.
auto fields(const Vfo &vfo) {
  return std::make_tuple(vfo.frequency, vfo.duplex, vfo.tx_tone, vfo.rx_tone, vfo.codeplug);
}

// A running radiosim with a client on its raw line.
struct Client {
  explicit Client(const std::vector<std::string> &options = {})
      : sim(options), line(sim.slavePath()) {}
  SimProcess sim;
  RawLine line;
};

}  // namespace

TEST(Radiosim, ParserFindsFramesAmongNoiseEscapesAndBrokenStarts) {
  const std::pair<std::string, std::string> rows[] = {
      {"00 13 FE FE 20 91 08 01 FD", "08 01"},
      {"FE FE 20 91 AA FF 0D FF 0E FF 0F FD", "AA FD FE FF"},
      {"FE 00 20 91 08 FD FE FE 20 91 09 FD", "09"},
      {"FE FE FE 20 91 09 FD", "09"},
      {"FE FE 20 91 08 FE FE 20 91 0A FD", "0A"},
      {"FE FE 20 FD 91 09 FD", ""},
      {"FE FE 20 91" + repeated(" 01", kMaxBodyLength) + " FD",
       repeated(" 01", kMaxBodyLength).substr(1)},
      {"FE FE 20 91" + repeated(" 01", kMaxBodyLength + 1) + " FD FE FE 20 91 09 FD", "09"},
  };
  for (const auto &[wire, bodies] : rows) {
    FrameParser parser;
    Bytes found;
    for (std::uint8_t byte : hex(wire)) {
      if (const auto frame = parser.feed(byte))
        found.insert(found.end(), frame->body.begin(), frame->body.end());
    }
    EXPECT_EQ(hexOf(found), bodies) << wire;
  }
}

// What radiosim logs for each golden command, in the table's order.
const char *const kGoldenLog[] = {"VFO set to 145.500000 MHz",
                                  "duplex set to 11",
                                  "tx PL set to 88.5",
                                  "codeplug set to 01 02 03 04 05 06 07 08 09 0a 0b 0c 0d 0e 0f 10",
                                  "mode 12 selected",
                                  "mode 12 stored",
                                  "mode 12 recalled",
                                  "config set to 12 34",
                                  "tx offset set to -256",
                                  "VCO split set to rx 2 tx 1",
                                  "codeplug read",
                                  "version read",
                                  "config read",
                                  "tx offset read",
                                  "VCO split read"};

TEST(Radiosim, AnswersEveryRequestWithExactBytesAndKeepsItsStateAcrossARestart) {
  // After the golden commands, a request body, the reply body it gets and the radio's log line.
  // Recalling the empty slot 13 clears every VFO setting; recalling 12 brings them back.
  // clang-format off
  const std::array<std::string, 3> script[] = {
    {"1B 01 01 00", "FB", "rx PL set to 10.0"}, {"09", "FB", "mode 12 stored"},
    {"08 13", "FB", "mode 13 selected"}, {"0A", "FB", "mode 13 recalled"},
    {"AA 00", "AA 80" + repeated(" 00", 16), "codeplug read"},
    {"08 12", "FB", "mode 12 selected"}, {"0A", "FB", "mode 12 recalled"},
    {"AA 00", "AA 80 " + kCodeplug, "codeplug read"},
    {"08 13", "FB", "mode 13 selected"}, {"0A", "FB", "mode 13 recalled"},
    {"AA 04 FF 0D FF 0E", "FB", "config set to fd fe"},
    {"AA 03", "AA 83 FF 0D FF 0E", "config read"},
    {"", "FA", "refused: empty request"},
    {"AA", "FA", "refused: extended command without subcommand"},
    {"42", "FA", "refused: unknown command 42"}, {"AA 09", "FA", "refused: unknown subcommand 09"},
    {"AA 04 12", "FA", "refused: set config needs 4 bytes, got 3"},
    {"08 01 02", "FA", "refused: select mode needs 2 bytes, got 3"},
    {"05 0A 00 00 00 00", "FA", "refused: BCD digit above 9 in 05 0a 00 00 00 00"},
    {"08 1A", "FA", "refused: BCD digit above 9 in 08 1a"},
    {"1B 00 A0 00", "FA", "refused: BCD digit above 9 in 1b 00 a0 00"},
  };
  // clang-format on
  TempDir dir;
  Client client({kOptState, dir.file("state")});
  EXPECT_TRUE(fs::is_regular_file(dir.file("state"))) << "created at start";
  EXPECT_EQ(client.line.exchange("FE FE 30 91 08 03 FD", ""), "");
  std::string log = client.sim.slavePath() + "\nignored frame to 30 from 91\n";
  for (std::size_t i = 0; i < kGolden.size(); i++) {
    const std::string frame = hexOf(reply(kGolden[i].reply));
    EXPECT_EQ(client.line.exchange(hexOf(request(kGolden[i].request)), frame), frame);
    log += kGoldenLog[i] + std::string("\n");
  }
  for (const auto &[body, answer, said] : script) {
    const std::string frame = "FE FE 91 20 " + answer + " FD";
    EXPECT_EQ(client.line.exchange("FE FE 20 91 " + body + " FD", frame), frame) << body;
    log += said + "\n";
  }
  ASSERT_TRUE(client.sim.waitForOutput(log)) << client.sim.output();
  const auto saved = [&dir] {
    Radio radio;
    std::string error;
    EXPECT_EQ(loadState(dir.file("state"), radio, error), StateLoad::kLoaded) << error;
    return std::make_tuple(radio.mode, radio.config, radio.tx_offset, radio.rx_split,
                           radio.tx_split, fields(radio.vfo), fields(radio.slots[12]),
                           fields(radio.slots[13]));
  };
  const Vfo vfo{145500000, 0x11, 885, 100, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}};
  const auto state = std::make_tuple(13, Config{0xFD, 0xFE}, -256, 2, 1, fields(Vfo{}), fields(vfo),
                                     fields(Vfo{}));
  EXPECT_EQ(saved(), state) << "saved after each change";
  client.line.close();
  EXPECT_EQ(client.sim.waitForExit(), 0);
  EXPECT_EQ(saved(), state) << "saved at the end";
  EXPECT_FALSE(fs::exists(dir.file("state.tmp")));
  const std::string offset = hexOf(reply(kGolden[13].reply));
  EXPECT_EQ(Client({kOptState, dir.file("state")}).line.exchange("FE FE 20 91 AA 05 FD", offset),
            offset);
}

TEST(Radiosim, StateFileItCannotUseStopsItAtStartWithStatusOne) {
  TempDir held;
  SimProcess holder({kOptState, held.file("state")});
  ASSERT_TRUE(holder.started());
  // The state file's text, or, when there is none, the path --state names.
  const std::tuple<std::string, std::string, std::string> rows[] = {
      {"mode = 3\nbogus\n", "", ":2: expected \"key = value\""},
      {"# comment\n\nmode = 100\n", "", ":3: bad value \"100\" for mode"},
      {"slot.100.duplex = 1\n", "", ":1: unknown key \"slot.100.duplex\""},
      {"vfo.codeplug = 01 02\n", "", ":1: bad value \"01 02\" for vfo.codeplug"},
      {"", held.file("state"), ": state file in use"},
      {"", held.file("."), ": cannot be opened: Is a directory"},
  };
  for (const auto &[text, path, problem] : rows) {
    TempDir dir;
    const std::string state = path.empty() ? dir.file("state") : path;
    if (path.empty()) std::ofstream(state) << text;
    SimProcess sim({kOptState, state});
    EXPECT_EQ(sim.waitForExit(), 1) << state;
    EXPECT_EQ(sim.errors(), "radiosim: " + state + problem + "\n");
    EXPECT_EQ(sim.output(), "") << text;
  }
}

TEST(Radiosim, AcknowledgesAChangeOnlyOnceSavedAndRefusesOneItCannotSave) {
  const std::string refused = "FE FE 91 20 FA FD";
  const std::string offset5 = "FE FE 91 20 AA 85 05 00 00 00 FD";
  TempDir dir;
  Client client({kOptState, dir.file("state")});
  ASSERT_EQ(client.line.exchange("FE FE 20 91 AA 06 05 00 00 00 FD", kAccepted), kAccepted);
  EXPECT_EQ(client.sim.stop(SIGKILL), 128 + SIGKILL);
  Radio saved;
  std::string error;
  ASSERT_EQ(loadState(dir.file("state"), saved, error), StateLoad::kLoaded) << error;
  EXPECT_EQ(saved.tx_offset, 5) << "saved before it was acknowledged";

  Client again({kOptState, dir.file("state")});
  fs::create_directory(dir.file("state.tmp"));
  EXPECT_EQ(again.line.exchange("FE FE 20 91 AA 06 06 00 00 00 FD", refused), refused);
  EXPECT_EQ(again.line.exchange("FE FE 20 91 AA 05 FD", offset5), offset5) << "the change undone";
  EXPECT_TRUE(again.sim.waitForOutput("refused: " + dir.file("state") +
                                      ": cannot be saved: Is a directory\ntx offset read\n"))
      << again.sim.output();
}

TEST(Radiosim, CommandLineErrorsExitTwoNamingRadiosim) {
  const std::pair<std::vector<std::string>, std::string> rows[] = {
      {{kOptAddress, "300"}, "radiosim: --address: not a bus address from 0 to 252: 300\n"},
      {{kOptWireBaud, "fast"}, "radiosim: Could not convert: --wire-baud = fast\n"},
      {{"--bogus"}, "radiosim: The following argument was not expected: --bogus\n"},
  };
  for (const auto &[args, error] : rows) {
    Process sim(RADIOSIM_PATH, args);
    EXPECT_EQ(sim.waitForExit(), 2) << error;
    EXPECT_EQ(sim.errors(), error);
  }
}

TEST(Radiosim, KeepsItsLinkUntilSigtermEndsItWithStatusZero) {
  TempDir dir;
  SimProcess sim({kOptLink, dir.file("radio")});
  ASSERT_TRUE(sim.started());
  EXPECT_EQ(fs::read_symlink(dir.file("radio")), sim.slavePath());
  EXPECT_EQ(sim.stop(SIGTERM), 0);
  EXPECT_EQ(sim.errors(), "") << "the signal that ends the wait is no failure";
  EXPECT_FALSE(fs::is_symlink(dir.file("radio")));
}

TEST(Radiosim, StaysForClientAfterClientEvenOneThatHangsUpAtOnceAndEndsWithStatusZero) {
  Client client({kOptStay});
  ASSERT_EQ(client.line.exchange("FE FE 20 91 09 FD", kAccepted), kAccepted);
  client.line.close();
  ASSERT_TRUE(client.sim.waitForOutput("client gone\n"));
  EXPECT_EQ(RawLine(client.sim.slavePath()).exchange("FE FE 20 91 09 FD", kAccepted), kAccepted);
  ASSERT_TRUE(client.sim.waitForOutput("client gone\nmode 0 stored\nclient gone\n"));
  RawLine(client.sim.slavePath()).exchange("FE FE 20 91 08 07 FD", "");  // and hangs up
  EXPECT_TRUE(client.sim.waitForOutput("client gone\nmode 7 selected\nclient gone\n"))
      << client.sim.output();
  EXPECT_EQ(client.sim.stop(SIGTERM), 0) << "stopped with no client to serve";
}

namespace {

// A line behaviour: radiosim's options and what a client at 40 gets from the radio at 30 for the
// requests setmode, getconfig, setmode. The library's side of these is the soak's.
struct Behaviour {
  const char *name;
  std::vector<std::string> options;
  std::string wire;  // frames named as in frames()
  int delay_ms = 0;
};

// Spells out the named frames in `names`; other words are bytes.
std::string frames(const std::string &names) {
  // clang-format off
  static const std::map<std::string, std::string> named{
      {"setmode", "FE FE 30 40 08 03 FD"}, {"getconfig", "FE FE 30 40 AA 03 FD"},
      {"ok", "FE FE 40 30 FB FD"},         {"config", "FE FE 40 30 AA 83 00 00 FD"},
      {"refused", "FE FE 40 30 FA FD"},    {"other", "FE FE 50 60 FA FF 0D FD"},
      {"noise", "00 13 FD 7F"}};
  // clang-format on
  std::istringstream in(names);
  std::string all;
  for (std::string word; in >> word;)
    all += (all.empty() ? "" : " ") + (named.count(word) ? named.at(word) : word);
  return all;
}

void PrintTo(const Behaviour &behaviour, std::ostream *out) {
  *out << behaviour.name;
}

class LineBehaviour : public ::testing::TestWithParam<Behaviour> {};

TEST_P(LineBehaviour, ShowsOnTheRawLine) {
  Client client(GetParam().options);
  const auto start = std::chrono::steady_clock::now();
  const std::string wire = frames(GetParam().wire);
  EXPECT_EQ(client.line.exchange(frames("setmode getconfig setmode"), wire), wire);
  EXPECT_GE(std::chrono::steady_clock::now() - start,
            std::chrono::milliseconds(3 * GetParam().delay_ms));
}

// clang-format off
const Behaviour kBehaviours[] = {
    {"Echo", {kOptAddress, "0x30", kOptEcho}, "setmode ok getconfig config setmode ok"},
    {"OtherStations", {kOptAddress, "48", kOptOtherStations}, "other ok other config other ok"},
    {"NoiseBeforeEveryFrame", {kOptAddress, "0x30", kOptNoise, kOptOtherStations},
     "noise other noise ok noise other noise config noise other noise ok"},
    {"RefusesEverySecond", {kOptAddress, "0x30", kOptRefuseEvery, "2"}, "ok refused ok"},
    {"SilentEverySecond", {kOptAddress, "0x30", kOptSilentEvery, "2"},
     "ok ok"},
    {"DelaysEachReply", {kOptAddress, "0x30", kOptDelayMs, "100"}, "ok config ok", 100},
    {"PacesItsRepliesAtAWireSpeed", {kOptAddress, "0x30", kOptWireBaud, "2400"}, "ok config ok"},
    {"OverlongReplies", {kOptAddress, "0x30", kOptOverlong, "3"},
     "FE FE 40 30 FB 00 00 00 FD  FE FE 40 30 AA 83 00 00 00 00 00 FD  FE FE 40 30 FB 00 00 00 FD"},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Radiosim, LineBehaviour, ::testing::ValuesIn(kBehaviours),
                         [](const ::testing::TestParamInfo<Behaviour> &info) {
                           return std::string(info.param.name);
                         });

}  // namespace
