// SPDX-License-Identifier: MIT
// radioctl end to end against radiosim: every command, output forms, exit codes, scripts, the lock.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "pty_radio.h"
#include "simproc.h"

#ifndef RADIOCTL_PATH
#error "RADIOCTL_PATH must name the radioctl executable"
#endif

namespace {

using Json = nlohmann::json;
using Words = std::vector<std::string>;

constexpr int kSignalBase = 128;
const char *const kVersionBytes = "aa 82 72 61 64 69 6f 73 69 6d 20 31 2e 30";
const char *const kRefusal = "radio refused the command or sent a bad reply (Invalid argument)";

struct Result {
  int status = -1;
  std::string out;
  std::string err;
};

// Reads both pipes to their end.
void drain(int out, int err, Result &run) {
  std::array<pollfd, 2> pipes{{{out, POLLIN, 0}, {err, POLLIN, 0}}};
  std::array<std::string *, 2> texts{&run.out, &run.err};
  while (pipes[0].fd >= 0 || pipes[1].fd >= 0) {
    if (poll(pipes.data(), pipes.size(), -1) < 0 && errno != EINTR) return;
    for (std::size_t i = 0; i < pipes.size(); ++i) {
      if (pipes[i].fd < 0 || pipes[i].revents == 0) continue;
      char chunk[4096];
      const ssize_t n = read(pipes[i].fd, chunk, sizeof chunk);
      if (n > 0) texts[i]->append(chunk, static_cast<std::size_t>(n));
      if (n <= 0) pipes[i].fd = -1;
    }
  }
}

// Runs radioctl with `args` and `input` on standard input, to its end.
Result radioctl(Words args, const std::string &input = {}) {
  std::array<int, 2> in{}, out{}, err{};
  Result run;
  if (pipe2(in.data(), O_CLOEXEC) != 0 || pipe2(out.data(), O_CLOEXEC) != 0 ||
      pipe2(err.data(), O_CLOEXEC) != 0) {
    ADD_FAILURE() << "pipe: " << strerror(errno);
    return run;
  }
  args.insert(args.begin(), RADIOCTL_PATH);
  std::vector<char *> argv;
  for (std::string &word : args) argv.push_back(word.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
  signal(SIGPIPE, SIG_IGN);  // radioctl may leave its input unread
  pid_t pid = -1;
  const int spawned = posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  for (int end : {in[0], out[1], err[1]}) close(end);
  if (spawned == 0 && !input.empty()) (void)!write(in[1], input.data(), input.size());
  close(in[1]);
  drain(out[0], err[0], run);
  close(out[0]);
  close(err[0]);
  int raw = 0;
  if (spawned != 0 || waitpid(pid, &raw, 0) != pid) {
    ADD_FAILURE() << "radioctl did not run: " << strerror(spawned);
    return run;
  }
  run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : kSignalBase + WTERMSIG(raw);
  return run;
}

Words with(Words first, const Words &rest) {
  first.insert(first.end(), rest.begin(), rest.end());
  return first;
}

Words split(const std::string &text) {
  std::istringstream in(text);
  Words words;
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

std::vector<Json> jsonLines(const std::string &text) {
  std::istringstream in(text);
  std::vector<Json> objects;
  for (std::string line; std::getline(in, line);) objects.push_back(Json::parse(line));
  return objects;
}

// A radiosim started by the test, and radioctl pointed at its line.
class RadioctlOnSim {
 public:
  explicit RadioctlOnSim(const Words &options = {}) : sim_(options) {
    EXPECT_TRUE(sim_.started()) << sim_.errors();
  }
  Result run(const std::string &commands, const std::string &input = {}) {
    return radioctl(with({"-d", sim_.slavePath()}, split(commands)), input);
  }
  SimProcess &sim() { return sim_; }

 private:
  SimProcess sim_;
};

// --- Help and usage -------------------------------------------------------

TEST(radioctl, HelpListsEveryCommand) {
  const Result run = radioctl({"--help"});
  EXPECT_EQ(run.status, 0);
  for (const char *name :
       {"set-freq FREQ", "set-mode MODE", "store-vfo", "recall-mode", "set-duplex CODE",
        "set-pl TONE [--rx]", "get-codeplug", "set-codeplug HEX...", "version", "get-config",
        "set-config D0 D1", "get-offset", "set-offset HZ", "get-split", "set-split TX RX",
        "probe"}) {
    EXPECT_NE(run.out.find(std::string("\n  ") + name + " "), std::string::npos) << name;
  }
  EXPECT_EQ(run.err, "");
}

TEST(radioctl, CommandHelpDescribesItsArgumentAndRange) {
  const Result run = radioctl({"set-freq", "--help"});
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.out.find("Usage: radioctl set-freq"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("FREQ"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("(0 to 9999999999 Hz)"), std::string::npos) << run.out;
  EXPECT_EQ(run.err, "");
}

TEST(radioctl, NoCommandIsAUsageError) {
  const Result run = radioctl({"--simulate"});
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.err, "radioctl: no command given (see radioctl --help)\n");
}

TEST(radioctl, UnknownCommandIsAUsageError) {
  const Result run = radioctl({"--simulate", "frob"});
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.err, "radioctl: unknown command 'frob' (see radioctl --help)\n");
}

TEST(radioctl, BadValueIsAUsageErrorNamingTheArgument) {
  const Result run = radioctl({"--simulate", "set-freq", "12x"});
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.err, "radioctl: set-freq: FREQ '12x' is not a frequency in Hz\n");
  EXPECT_EQ(run.out, "");
}

TEST(radioctl, MissingArgumentIsAUsageError) {
  const Result run = radioctl({"--simulate", "set-config", "1"});
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.err, "radioctl: set-config: D1 is required\n");
}

TEST(radioctl, BadAddressOptionIsAUsageError) {
  const Result run = radioctl({"--simulate", "--radio", "0xfd", "version"});
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.err, "radioctl: --radio '0xfd' is out of range (0 to 252)\n");
}

TEST(radioctl, DeviceAndSimulateExcludeEachOther) {
  const Result run = radioctl({"--simulate", "-d", "/dev/null", "version"});
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.err, "radioctl: --device excludes --simulate\n");
}

TEST(radioctl, UsageErrorInALaterCommandSendsNothing) {
  PtyRadio radio;
  const Result run = radioctl({"-d", radio.slave_path(), "set-mode", "3", "set-pl", "88.55"});
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.err, "radioctl: set-pl: TONE '88.55' is finer than 0.1 Hz\n");
  EXPECT_EQ(radio.take(), Bytes{});
}

// --- Every setter reaches the radio ----------------------------------------

struct Setter {
  const char *name;
  const char *commands;
  const char *log;  // what radiosim says it did
};

void PrintTo(const Setter &setter, std::ostream *out) {
  *out << setter.commands;
}

class SetterReachesTheRadio : public ::testing::TestWithParam<Setter> {};

TEST_P(SetterReachesTheRadio, SilentlyWithExitZero) {
  RadioctlOnSim line;
  const Result run = line.run(GetParam().commands);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "");
  EXPECT_TRUE(line.sim().waitForOutput(std::string("\n") + GetParam().log + "\n"))
      << line.sim().output();
}

INSTANTIATE_TEST_SUITE_P(
    radioctl, SetterReachesTheRadio,
    ::testing::Values(
        Setter{"SetFreqAcceptsMegahertzSuffix", "set-freq 145.5M", "VFO set to 145.500000 MHz"},
        Setter{"SetModeSelectsTheSlot", "set-mode 42", "mode 42 selected"},
        Setter{"StoreVfoStoresTheCurrentSlot", "set-mode 7 store-vfo", "mode 7 stored"},
        Setter{"RecallModeRecallsTheCurrentSlot", "set-mode 5 recall-mode", "mode 5 recalled"},
        Setter{"SetDuplexAcceptsHex", "set-duplex 0x11", "duplex set to 11"},
        Setter{"SetPlSetsTheTransmitTone", "set-pl 88.5", "tx PL set to 88.5"},
        Setter{"SetPlWithRxSetsTheReceiveTone", "set-pl --rx 100", "rx PL set to 100.0"},
        Setter{"SetCodeplugSendsSixteenBytes", "set-codeplug 1 2 3 4 5 6 7 8 9 a b c d e f 0x10",
               "codeplug set to 01 02 03 04 05 06 07 08 09 0a 0b 0c 0d 0e 0f 10"},
        Setter{"SetConfigSendsBothBytes", "set-config 0x12 52", "config set to 12 34"},
        Setter{"SetOffsetAcceptsNegativeKilohertz", "set-offset -600k", "tx offset set to -600000"},
        Setter{"SetSplitSendsTransmitAndReceive", "set-split 1 2", "VCO split set to rx 2 tx 1"}),
    [](const ::testing::TestParamInfo<Setter> &info) { return std::string(info.param.name); });

// --- Readers print what the radio holds ------------------------------------

struct Reader {
  const char *name;
  const char *commands;
  std::string out;
};

void PrintTo(const Reader &reader, std::ostream *out) {
  *out << reader.commands;
}

class ReaderPrints : public ::testing::TestWithParam<Reader> {};

TEST_P(ReaderPrints, WhatTheRadioHolds) {
  const Result run = radioctl(with({"--simulate"}, split(GetParam().commands)));
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, GetParam().out);
  EXPECT_EQ(run.err, "");
}

INSTANTIATE_TEST_SUITE_P(
    radioctl, ReaderPrints,
    ::testing::Values(
        Reader{"GetCodeplugReadsBackTheCodeplugWritten",
               "set-codeplug 01 02 03 04 05 06 07 08 09 0a 0b 0c 0d 0e 0f 10 get-codeplug",
               "codeplug: 01 02 03 04 05 06 07 08 09 0a 0b 0c 0d 0e 0f 10\n"},
        Reader{"GetConfigReadsBackTheBytesWritten", "set-config 0x12 52 get-config",
               "config: 0x12 0x34\n"},
        Reader{"GetOffsetReadsBackTheOffsetWritten", "set-offset -600k get-offset",
               "offset: -600000 Hz\n"},
        Reader{"GetSplitReadsBackThePairWritten", "set-split 1 2 get-split",
               "split: tx 1 Hz, rx 2 Hz\n"},
        Reader{"VersionPrintsTheFirmwareText", "version", "version: radiosim 1.0\n"},
        Reader{"ProbePrintsTheFirstFrameBack", "probe",
               std::string("reply from 0x20 to 0x91: ") + kVersionBytes + "\n"}),
    [](const ::testing::TestParamInfo<Reader> &info) { return std::string(info.param.name); });

TEST(radioctl, AddressOptionsReachTheLine) {
  const Result run = radioctl({"--simulate", "--radio", "0x30", "--controller", "146", "probe"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, std::string("reply from 0x30 to 0x92: ") + kVersionBytes + "\n");
}

TEST(radioctl, TraceSwitchesOnTheLibrarysAccount) {
  const Result run = radioctl({"--simulate", "-v", "set-mode", "3"});
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.err.find("setmode: selecting mode 3\n"), std::string::npos) << run.err;
}

// --- Failures ---------------------------------------------------------------

TEST(radioctl, RefusedCommandExitsOneAndSaysWhy) {
  RadioctlOnSim line({"--refuse-every", "1"});
  const Result run = line.run("set-mode 3");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, std::string("radioctl: set-mode: ") + kRefusal + "\n");
  EXPECT_EQ(run.out, "");
}

TEST(radioctl, FailureStopsTheCommandsAfterIt) {
  RadioctlOnSim line({"--refuse-every", "2"});
  const Result run = line.run("set-mode 1 set-mode 2 set-mode 3");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(line.sim().waitForExit(), 0);
  EXPECT_EQ(line.sim().output().find("mode 3"), std::string::npos) << line.sim().output();
}

TEST(radioctl, MissingDeviceExitsOne) {
  const Result run = radioctl({"-d", "/nonexistent/ttyX", "version"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "radioctl: /nonexistent/ttyX: No such file or directory\n");
}

TEST(radioctl, MissingDefaultDeviceSuggestsSimulate) {
  if (std::filesystem::exists("/dev/ttyUSB0")) GTEST_SKIP() << "a radio may be attached";
  const Result run = radioctl({"version"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(
      run.err,
      "radioctl: no radio at /dev/ttyUSB0; name its device with -d PATH, or use --simulate\n");
}

TEST(radioctl, UnknownBaudRateExitsOne) {
  PtyRadio radio;
  const Result run = radioctl({"-d", radio.slave_path(), "-b", "12345", "version"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err,
            "radioctl: " + radio.slave_path() + ": cannot run at 12345 baud (Invalid argument)\n");
  EXPECT_EQ(radio.take(), Bytes{});
}

TEST(radioctl, SilentRadioWaitsOutTheFiveSecondTimeOut) {
  RadioctlOnSim line({"--silent-every", "1"});
  const Result run = line.run("version");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "radioctl: version: no reply from the radio (Connection timed out)\n");
}

// --- The lock ---------------------------------------------------------------

TEST(radioctl, LockedDeviceIsBusyAndSeesNoByte) {
  PtyRadio radio;
  const int holder = open(radio.slave_path().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(holder, 0) << strerror(errno);
  ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0) << strerror(errno);
  const Result run = radioctl({"-d", radio.slave_path(), "version"});
  close(holder);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "radioctl: " + radio.slave_path() + ": device busy\n");
  EXPECT_EQ(radio.take(), Bytes{});
}

// --- JSON -------------------------------------------------------------------

TEST(radioctl, JsonPrintsOneObjectPerCommand) {
  const Result run = radioctl(
      {"--simulate", "--json", "set-offset", "-600k", "get-offset", "get-split", "get-config"});
  EXPECT_EQ(run.status, 0) << run.err;
  const std::vector<Json> expected{
      {{"command", "set-offset"}, {"ok", true}},
      {{"command", "get-offset"}, {"ok", true}, {"offset", -600000}},
      {{"command", "get-split"}, {"ok", true}, {"split", {{"tx", 0}, {"rx", 0}}}},
      {{"command", "get-config"}, {"ok", true}, {"config", {0, 0}}},
  };
  EXPECT_EQ(jsonLines(run.out), expected);
}

TEST(radioctl, JsonReportsAFailureWithItsCode) {
  RadioctlOnSim line({"--refuse-every", "2"});
  const Result run = line.run("--json version set-mode 3");
  EXPECT_EQ(run.status, 1);
  const std::vector<Json> expected{
      {{"command", "version"}, {"ok", true}, {"version", "radiosim 1.0"}},
      {{"command", "set-mode"}, {"ok", false}, {"error", strerror(EINVAL)}, {"code", EINVAL}},
  };
  EXPECT_EQ(jsonLines(run.out), expected);
}

TEST(radioctl, JsonOfAProbeCarriesTheFrame) {
  const Result run = radioctl({"--simulate", "--json", "probe"});
  ASSERT_EQ(run.status, 0) << run.err;
  const std::vector<Json> objects = jsonLines(run.out);
  ASSERT_EQ(objects.size(), 1u);
  EXPECT_EQ(objects[0]["from"], 0x20);
  EXPECT_EQ(objects[0]["to"], 0x91);
  EXPECT_EQ(objects[0]["reply"].size(), 14u);
}

// --- Scripts ----------------------------------------------------------------

TEST(radioctl, ScriptRunsCommandsFromStandardInput) {
  const Result run =
      radioctl({"--simulate", "-"}, "# set up\n\nset-offset 5k  # five kHz\nget-offset\n");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "offset: 5000 Hz\n");
}

TEST(radioctl, ScriptNamesTheLineOfABadValueAndSendsNothing) {
  PtyRadio radio;
  const Result run = radioctl({"-d", radio.slave_path(), "-"}, "get-offset\n\nset-mode 100\n");
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.err, "radioctl: line 3: set-mode: MODE '100' is out of range (0 to 99)\n");
  EXPECT_EQ(radio.take(), Bytes{});
}

TEST(radioctl, ScriptNamesTheLineOfAFailingCommand) {
  RadioctlOnSim line({"--refuse-every", "2"});
  const Result run = line.run("-", "set-mode 1\n# then\nset-mode 2\nset-mode 3\n");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, std::string("radioctl: line 3: set-mode: ") + kRefusal + "\n");
}

TEST(radioctl, ScriptTakesOneCommandALine) {
  const Result run = radioctl({"--simulate", "-"}, "set-mode 1 store-vfo\n");
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.err,
            "radioctl: line 1: set-mode: The following argument was not expected: store-vfo\n");
}

TEST(radioctl, JsonOfAScriptNamesTheLines) {
  const Result run = radioctl({"--simulate", "--json", "-"}, "\nget-offset\n");
  EXPECT_EQ(run.status, 0) << run.err;
  const std::vector<Json> expected{
      {{"command", "get-offset"}, {"line", 2}, {"ok", true}, {"offset", 0}}};
  EXPECT_EQ(jsonLines(run.out), expected);
}

}  // namespace
