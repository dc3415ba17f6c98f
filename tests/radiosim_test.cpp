// SPDX-License-Identifier: MIT
// radiosim: its framing, answers, mode slots, state file, life as a process and line behaviours.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <optional>
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

TEST(Radiosim, ParserFindsFramesAmongNoiseOrBrokenStarts) {
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

// A radiosim started on a state file in the "key = value" lines older
// radiosims wrote, which it rewrites as JSON at once, that heard the golden
// commands, then a script of mode slots, configuration and refused
// requests, and was hung up on. Recalling the empty slot 13 clears every VFO
// setting; recalling 12 brings them back.
class RadiosimSession : public ::testing::Test {
 protected:
  void SetUp() override {
    // After the golden commands, a request body, the reply body it gets and the radio's log line.
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
      {"05 0A 00 00 00 00", "FA", "refused: BCD digit above 9 in 05 0a 00 00 00 00"},
    };
    // clang-format on
    std::ofstream(state_) << "# radio state\nconfig = 12 34\ntx_offset = -5\nslot.40.duplex = 5\n";
    Client client({kOptState, state_});
    rewritten_ = std::ifstream(state_).peek() == '{';
    // The golden commands' log lines are the Python package's round trips to check.
    for (const Golden &row : kGolden)
      exchange(hexOf(request(row.request)), hexOf(reply(row.reply)));
    ask("FE FE 30 91 08 03 FD", "");
    expected_log_ = "VCO split read\nignored frame to 30 from 91\n";
    for (const auto &[body, answer, said] : script) {
      exchange(hexOf(request(body)), hexOf(reply(answer)));
      expected_log_ += said + "\n";
    }
    client.sim.waitForOutput(expected_log_);
    serclose();
    exit_ = client.sim.waitForExit();
    log_ = client.sim.output();
  }

  void exchange(const std::string &request, const std::string &answer) {
    answers_.push_back(ask(request, answer));
    expected_answers_.push_back(answer);
  }

  TempDir dir_;
  std::string state_ = dir_.file("state");
  bool rewritten_ = false;
  std::vector<std::string> answers_, expected_answers_;
  std::string log_, expected_log_;
  int exit_ = -1;
};

TEST_F(RadiosimSession, AnswersEveryRequestWithExactBytes) {
  EXPECT_EQ(answers_, expected_answers_);
}

TEST_F(RadiosimSession, LogsEveryRequestUntilTheClientHangsUp) {
  const std::string tail = expected_log_ + "client gone\n";
  EXPECT_EQ(log_.substr(log_.size() - std::min(log_.size(), tail.size())), tail);
  EXPECT_EQ(exit_, 0);
}

TEST_F(RadiosimSession, LeavesItsStateInItsFile) {
  EXPECT_TRUE(rewritten_) << "rewritten as JSON at start";
  Radio saved;
  std::string error;
  ASSERT_TRUE(loadState(state_, saved, error)) << error;
  const Vfo vfo{145500000, 0x11, 885, 100, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}};
  EXPECT_EQ(
      std::make_tuple(saved.mode, saved.config, saved.tx_offset, saved.rx_split, saved.tx_split,
                      saved.vfo, saved.slots[12], saved.slots[13], saved.slots[40].duplex),
      std::make_tuple(13, Config{0xFD, 0xFE}, -256, 2, 1, Vfo{}, vfo, Vfo{}, 5));
  EXPECT_FALSE(fs::exists(state_ + ".tmp"));
}

// Usage errors exit 2, and a state file radiosim cannot use exits 1, before serving.
TEST(Radiosim, BadUsageOrStateFileExitsBeforeServing) {
  TempDir dir;
  Client holder({kOptState, dir.file("state")});
  const std::string file = dir.file("bad");
  // radiosim's options, the text put in `file` first (if any), its exit status and message, which
  // names the state file radiosim was given (if any).
  const std::tuple<std::vector<std::string>, std::string, int, std::string> rows[] = {
      {{kOptAddress, "300"}, "", 2, "--address: not a bus address from 0 to 252: 300"},
      {{kOptState, file}, "mode = 3\nmode.x = 4", 1, R"(: line 2: neither JSON nor "key = value")"},
      {{kOptState, file},
       "{\"vfo\": [null, true, 1, -1, 0.5, \"\", {}]\n1}",
       1,
       ": bad JSON at line 2, column 1: syntax error while parsing object - unexpected number "
       "literal; expected '}'"},
      {{kOptState, file}, R"({"mode": 100})", 1, ": mode is not an integer from 0 to 99"},
      {{kOptState, file}, R"({"slots": {"100": {}}})", 1, R"(: unknown key "slots.100")"},
      {{kOptState, file}, R"({"vfo": {"codeplug": 1}})", 1, ": vfo.codeplug is not 16 hex bytes"},
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
}

// A radiosim that was killed right after it acknowledged a change, started
// again on its state file to serve client after client behind a link.
class RadiosimRestart : public ::testing::Test {
 protected:
  void SetUp() override {
    {
      Client client({kOptState, dir_.file("state")});
      ask("FE FE 20 91 AA 06 05 00 00 00 FD", kAccepted);
      client.sim.stop(SIGKILL);
    }
    again_.emplace(std::vector<std::string>{kOptState, dir_.file("state"), kOptStay, kOptLink,
                                            dir_.file("radio")});
  }
  const std::string read_ = "FE FE 20 91 AA 05 FD", offset5_ = "FE FE 91 20 AA 85 05 00 00 00 FD";
  TempDir dir_;
  std::optional<Client> again_;
};

TEST_F(RadiosimRestart, KeepsWhatItAcknowledgedBeforeItWasKilled) {
  EXPECT_EQ(ask(read_, offset5_), offset5_);
}

TEST_F(RadiosimRestart, ChangeItCannotSaveIsRefused) {
  fs::create_directory(dir_.file("state.tmp"));
  EXPECT_EQ(ask("FE FE 20 91 AA 06 06 00 00 00 FD", "FE FE 91 20 FA FD"), "FE FE 91 20 FA FD");
  EXPECT_EQ(ask(read_, offset5_), offset5_);
  EXPECT_TRUE(again_->sim.waitForOutput("refused: " + dir_.file("state") +
                                        ": cannot be saved: Is a directory\n"))
      << again_->sim.output();
}

// With --stay it serves one client after another, even one that hangs up
// with its request still waiting on the line.
TEST_F(RadiosimRestart, StaysToServeTheNextClient) {
  ask(read_, offset5_);
  serclose();
  ASSERT_TRUE(again_->sim.waitForOutput("tx offset read\nclient gone\n"));
  ASSERT_EQ(seropen(std::string(again_->sim.slavePath()).data(), 115200), 0);
  ask(read_, "");
  serclose();  // at once, with the request still waiting on the line
  ASSERT_TRUE(again_->sim.waitForOutput("client gone\ntx offset read\nclient gone\n"))
      << again_->sim.output();
  ASSERT_EQ(seropen(std::string(again_->sim.slavePath()).data(), 115200), 0);
  EXPECT_EQ(ask(read_, offset5_), offset5_);
}

// The link names the device while radiosim runs.
TEST_F(RadiosimRestart, SigtermEndsItsWaitForAClient) {
  EXPECT_EQ(fs::read_symlink(dir_.file("radio")), again_->sim.slavePath());
  serclose();
  ASSERT_TRUE(again_->sim.waitForOutput("client gone\n"));
  EXPECT_EQ(again_->sim.stop(SIGTERM), 0) << "stopped with no client to serve";
  EXPECT_EQ(again_->sim.errors(), "") << "the signal that ends the wait is no failure";
  EXPECT_FALSE(fs::is_symlink(dir_.file("radio")));
}

// The library's side of these behaviours is the soak's.
TEST(Radiosim, LineFaultsShowOnTheRawLine) {
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
