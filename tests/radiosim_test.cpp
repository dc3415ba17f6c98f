// SPDX-License-Identifier: MIT
// radiosim: its framing, answers, mode slots, state file, life as a process and line behaviours.
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <tuple>

#include "kit.h"
#include "line_faults.h"
#include "state_file.h"

using namespace radiosim;
namespace fs = std::filesystem;

namespace {

const std::string kAccepted = "FE FE 91 20 FB FD";

// A running radiosim whose line the library holds; closing the line hangs up.
struct Client {
  explicit Client(const std::vector<std::string> &options) : sim(options) {
    EXPECT_EQ(seropen(std::string(sim.slavePath()).data(), 115200), 0) << sim.errors();
  }
  ~Client() { serclose(); }
  SimProcess sim;
};

// Puts the bytes of `request` on the line, raw, and returns in hex as many bytes as `expected`
// holds, or fewer when the line stays quiet for the library's time-out.
std::string ask(const std::string &request, const std::string &expected) {
  for (const std::uint8_t byte : hex(request)) rawcharout(byte);
  Bytes got(hex(expected).size());
  std::size_t n = 0;
  while (n < got.size() && rawcharin(&got[n]) == 0) n++;
  got.resize(n);
  return hexOf(got);
}

TEST(Radiosim, ParserFindsFramesAmongNoiseEscapesAndBrokenStarts) {
  const std::string longest = " " + hexOf(Bytes(kMaxBodyLength, 1));
  const std::pair<std::string, std::string> rows[] = {
      {"00 13 FE FE 20 91 08 01 FD", "08 01"},
      {"FE FE 20 91 AA FF 0D FF 0E FF 0F FD", "AA FD FE FF"},
      {"FE 00 20 91 08 FD FE FE 20 91 09 FD", "09"},
      {"FE FE FE 20 91 09 FD", "09"},
      {"FE FE 20 91 08 FE FE 20 91 0A FD", "0A"},
      {"FE FE 20 FD 91 09 FD", ""},
      {"FE FE 20 91" + longest + " FD", longest.substr(1)},
      {"FE FE 20 91" + longest + " 01 FD FE FE 20 91 09 FD", "09"},
  };
  for (const auto &[wire, bodies] : rows) {
    FrameParser parser;
    std::string found;
    for (std::uint8_t byte : hex(wire))
      if (const auto frame = parser.feed(byte)) found += hexOf(frame->body);
    EXPECT_EQ(found, bodies) << wire;
  }
}

TEST(Radiosim, AnswersEveryRequestWithExactBytesAndLeavesItsStateInItsFile) {
  // After the golden commands, a request body, the reply body it gets and the radio's log line.
  // Recalling the empty slot 13 clears every VFO setting; recalling 12 brings them back.
  // clang-format off
  const std::array<std::string, 3> script[] = {
    {"1B 01 01 00", "FB", "rx PL set to 10.0"}, {"09", "FB", "mode 12 stored"},
    {"08 13", "FB", "mode 13 selected"}, {"0A", "FB", "mode 13 recalled"},
    {"AA 00", "AA 80 " + hexOf(Bytes(16, 0)), "codeplug read"},
    {"08 12", "FB", "mode 12 selected"}, {"0A", "FB", "mode 12 recalled"},
    {"AA 00", "AA 80 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10", "codeplug read"},
    {"08 13", "FB", "mode 13 selected"}, {"0A", "FB", "mode 13 recalled"},
    {"AA 04 FF 0D FF 0E", "FB", "config set to fd fe"},
    {"AA 03", "AA 83 FF 0D FF 0E", "config read"}, {"", "FA", "refused: empty request"},
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
  const std::string state = dir.file("state");
  Client client({kOptState, state});
  EXPECT_TRUE(fs::is_regular_file(state)) << "created at start";
  // The golden commands' log lines are the Python package's round trips to check.
  for (const Golden &row : kGolden)
    ASSERT_EQ(ask(hexOf(request(row.request)), hexOf(reply(row.reply))), hexOf(reply(row.reply)))
        << row.name;
  ask("FE FE 30 91 08 03 FD", "");
  std::string log = "VCO split read\nignored frame to 30 from 91\n";
  for (const auto &[body, answer, said] : script) {
    EXPECT_EQ(ask(hexOf(request(body)), hexOf(reply(answer))), hexOf(reply(answer))) << body;
    log += said + "\n";
  }
  ASSERT_TRUE(client.sim.waitForOutput(log)) << client.sim.output();
  serclose();
  EXPECT_EQ(client.sim.waitForExit(), 0);
  Radio saved;
  std::string error;
  ASSERT_EQ(loadState(state, saved, error), StateLoad::kLoaded) << error;
  const Vfo vfo{145500000, 0x11, 885, 100, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}};
  EXPECT_EQ(std::make_tuple(saved.mode, saved.config, saved.tx_offset, saved.rx_split,
                            saved.tx_split, saved.vfo, saved.slots[12], saved.slots[13]),
            std::make_tuple(13, Config{0xFD, 0xFE}, -256, 2, 1, Vfo{}, vfo, Vfo{}));
  EXPECT_FALSE(fs::exists(state + ".tmp"));
}

// Usage errors exit 2 and a state file it cannot use exits 1 before serving. The restarted radiosim
// reads the offset saved before the killed one acknowledged it, and the refused change leaves it;
// with --stay it serves one client after another, even one that hangs up at once.
TEST(Radiosim, ExitsOnBadUsageOrStateAcknowledgesOnlySavedChangesAndStaysUntilSigterm) {
  const std::string read = "FE FE 20 91 AA 05 FD", offset5 = "FE FE 91 20 AA 85 05 00 00 00 FD";
  TempDir dir;
  Client client({kOptState, dir.file("state")});
  ASSERT_EQ(ask("FE FE 20 91 AA 06 05 00 00 00 FD", kAccepted), kAccepted);
  EXPECT_EQ(client.sim.stop(SIGKILL), 128 + SIGKILL);

  Client again({kOptState, dir.file("state"), kOptStay, kOptLink, dir.file("radio")});
  const std::string file = dir.file("bad");
  // radiosim's options, the text put in `file` first (if any), its exit status and message, which
  // names the state file radiosim was given (if any).
  const std::tuple<std::vector<std::string>, std::string, int, std::string> rows[] = {
      {{kOptAddress, "300"}, "", 2, "--address: not a bus address from 0 to 252: 300"},
      {{kOptState, file}, "mode = 3\nbogus\n", 1, ":2: expected \"key = value\""},
      {{kOptState, file}, "# comment\n\nmode = 100\n", 1, ":3: bad value \"100\" for mode"},
      {{kOptState, file}, "slot.100.duplex = 1\n", 1, ":1: unknown key \"slot.100.duplex\""},
      {{kOptState, file}, "vfo.codeplug = 01 02\n", 1, ":1: bad value \"01 02\" for vfo.codeplug"},
      {{kOptState, dir.file("state")}, "", 1, ": state file in use"},
      {{kOptState, dir.file(".")}, "", 1, ": cannot be opened: Is a directory"},
  };
  for (const auto &[options, text, status, message] : rows) {
    if (!text.empty()) std::ofstream(file) << text;
    Process sim(RADIOSIM_PATH, options);
    EXPECT_EQ(sim.waitForExit(), status) << message;
    const std::string named = options[0] == kOptState ? options[1] : "";
    EXPECT_EQ(sim.errors(), "radiosim: " + named + message + "\n");
  }
  EXPECT_EQ(fs::read_symlink(dir.file("radio")), again.sim.slavePath());
  fs::create_directory(dir.file("state.tmp"));
  EXPECT_EQ(ask("FE FE 20 91 AA 06 06 00 00 00 FD", "FE FE 91 20 FA FD"), "FE FE 91 20 FA FD");
  EXPECT_EQ(ask(read, offset5), offset5) << "saved before it was acknowledged, the refused undone";
  serclose();
  ASSERT_TRUE(again.sim.waitForOutput("refused: " + dir.file("state") +
                                      ": cannot be saved: Is a directory\ntx offset read\n"
                                      "client gone\n"))
      << again.sim.output();
  ASSERT_EQ(seropen(std::string(again.sim.slavePath()).data(), 115200), 0);
  ask(read, "");
  serclose();  // at once, with the request still waiting on the line
  ASSERT_TRUE(again.sim.waitForOutput("client gone\ntx offset read\nclient gone\n"))
      << again.sim.output();
  EXPECT_EQ(again.sim.stop(SIGTERM), 0) << "stopped with no client to serve";
  EXPECT_EQ(again.sim.errors(), "") << "the signal that ends the wait is no failure";
  EXPECT_FALSE(fs::is_symlink(dir.file("radio")));
}

// The library's side of these behaviours is the soak's.
TEST(Radiosim, LineBehavioursShowOnTheRawLine) {
  const std::string setmode = "FE FE 30 40 08 03 FD ", getconfig = "FE FE 30 40 AA 03 FD ";
  const std::string ok = "FE FE 40 30 FB FD ", config = "FE FE 40 30 AA 83 00 00 FD ";
  // Noise before each frame: the one two other stations exchange and the reply.
  const std::string busy = "00 13 FD 7F FE FE 50 60 FA FF 0D FD 00 13 FD 7F ";
  // radiosim's options, what a client at 40 gets from the radio at 30 for the
  // requests setmode, getconfig, setmode, and the least time each reply takes.
  const std::tuple<std::vector<std::string>, std::string, int> rows[] = {
      {{kOptAddress, "48", kOptEcho}, setmode + ok + getconfig + config + setmode + ok, 0},
      {{kOptAddress, "48", kOptNoise, kOptOtherStations}, busy + ok + busy + config + busy + ok, 0},
      {{kOptAddress, "48", kOptSilentEvery, "2"}, ok + ok, 0},
      {{kOptAddress, "48", kOptDelayMs, "100"}, ok + config + ok, 100},
      {{kOptAddress, "48", kOptWireBaud, "2400"}, ok + config + ok, 25},
      {{kOptAddress, "48", kOptOverlong, "3"},
       "FE FE 40 30 FB 00 00 00 FD FE FE 40 30 AA 83 00 00 00 00 00 FD FE FE 40 30 FB 00 00 00 FD",
       0},
  };
  for (const auto &[options, wire, delay_ms] : rows) {
    Client client(options);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ask(setmode + getconfig + setmode, wire), hexOf(hex(wire)));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(3 * delay_ms));
  }
}

}  // namespace
