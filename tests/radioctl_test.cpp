// SPDX-License-Identifier: MIT
// radioctl against radiosim: every subcommand, output forms, exit codes, scripts, lock, devices.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <sstream>
#include <tuple>

#include "kit.h"

namespace {

// Runs radioctl with the words of `args` ('' is an empty word) to its end, `input` on its
// standard input; returns its exit status, standard output and standard error.
std::tuple<int, std::string, std::string> radioctl(const std::string &args,
                                                   const std::string &input = {}) {
  std::istringstream in(args);
  std::vector<std::string> words;
  for (std::string word; in >> word;) words.push_back(word == "''" ? "" : word);
  Process run(RADIOCTL_PATH, words, input);
  return {run.waitForExit(), run.output(), run.errors()};  // evaluated in this order
}

TEST(Radioctl, RunsEverySubcommandOnRadiosim) {
  SimProcess sim({"--address", "0x30"});
  const auto [status, out, err] = radioctl(
      "-d " + sim.slavePath() +
      " --radio 0x30 --controller 146 set-freq 145.5M set-duplex 0x11 set-pl 88.5 set-pl --rx 100"
      " set-mode 7 store-vfo recall-mode set-codeplug 1 2 3 4 5 6 7 8 9 a b c d e f 0x10"
      " get-codeplug set-config 0x12 52 get-config set-offset -600k get-offset set-split 1 2"
      " get-split version probe");
  EXPECT_EQ(std::tie(status, err), std::tuple(0, ""));
  EXPECT_EQ(out,
            "codeplug: 01 02 03 04 05 06 07 08 09 0a 0b 0c 0d 0e 0f 10\nconfig: 0x12 0x34\n"
            "offset: -600000 Hz\nsplit: tx 1 Hz, rx 2 Hz\nversion: radiosim 1.0\n"
            "reply from 0x30 to 0x92: aa 82 72 61 64 69 6f 73 69 6d 20 31 2e 30\n");
  EXPECT_EQ(sim.waitForExit(), 0);
  EXPECT_EQ(
      sim.output(),
      sim.slavePath() +
          "\nVFO set to 145.500000 MHz\nduplex set to 11\ntx PL set to 88.5\n"
          "rx PL set to 100.0\nmode 7 selected\nmode 7 stored\nmode 7 recalled\n"
          "codeplug set to 01 02 03 04 05 06 07 08 09 0a 0b 0c 0d 0e 0f 10\ncodeplug read\n"
          "config set to 12 34\nconfig read\ntx offset set to -600000\ntx offset read\n"
          "VCO split set to rx 2 tx 1\nVCO split read\nversion read\nversion read\nclient gone\n");
}

TEST(Radioctl, ScriptResultsNameTheirLineUpToTheFirstFailure) {
  SimProcess sim({"--refuse-every", "3"});
  const std::string refused = "radio refused the command or sent a bad reply (Invalid argument)";
  EXPECT_EQ(radioctl("-d " + sim.slavePath() + " --json -",
                     "# set up\n\nset-offset 5k  # five kHz\nget-offset\nset-mode 3\nset-mode 4\n"),
            std::make_tuple(1,
                            R"({"command":"set-offset","line":3,"ok":true}
{"command":"get-offset","line":4,"ok":true,"offset":5000}
{"command":"set-mode","line":5,"ok":false,"error":{"code":"refused","errno":22,"message":")" +
                                refused + R"("}}
)",
                            "radioctl: line 5: set-mode: " + refused + "\n"));
  EXPECT_EQ(sim.waitForExit(), 0);
  EXPECT_EQ(sim.output().find("mode 4"), std::string::npos) << "ran after the failure";
}

// A command line radioctl refuses, or a line it cannot open or lock: the
// plain form prints one line on stderr and nothing on stdout; the rows run
// with --json, which prints that same line and adds the JSON object.
struct Refusal {
  std::string args, input, error;
  std::string code = "usage";
  int number = EINVAL;
};

// A pseudo-terminal that a second descriptor can lock, for the rows of
// Refusal to run against.
class RadioctlRefusal : public ::testing::Test {
 protected:
  void TearDown() override { close(holder_); }

  // Runs the row with --json (on the pty unless it names a device) and
  // checks what it printed, its status and that the line heard nothing.
  void check(const Refusal &row, int status) {
    const auto &[args, input, error, code, number] = row;
    const bool own_device = code != "usage" || args.rfind("-d", 0) == 0;
    const auto [exit, out, err] =
        radioctl("--json " + (own_device ? "" : "-d " + pty_) + " " + args, input);
    EXPECT_EQ(exit, status) << args;
    EXPECT_EQ(err, "radioctl: " + error + "\n");
    const auto object = nlohmann::json::parse(out);
    const std::string message = object["error"]["message"];
    EXPECT_EQ(object["error"],
              nlohmann::json({{"code", code}, {"errno", number}, {"message", message}}));
    EXPECT_NE(err.find(message + "\n"), std::string::npos) << out;
    EXPECT_EQ(object["ok"], false);
    EXPECT_TRUE(code == "usage" || object["command"].is_null()) << out;
    EXPECT_EQ(radio_.take(), Bytes{}) << args;
  }

  PtyRadio radio_;
  std::string pty_ = radio_.slavePath();
  int holder_ = open(pty_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
};

TEST_F(RadioctlRefusal, UsageErrorExitsTwoWithoutSendingAByte) {
  const std::string no_reply =
      "needs one radio's reply, and --radio 0 is the broadcast address, which no radio answers";
  const Refusal rows[] = {
      {"", "", "no command given (see radioctl --help)"},
      {"frob", "", "unknown command 'frob' (see radioctl --help)"},
      {"set-config 1", "", "set-config: D1 is required"},
      {"--radio 0xfd version", "", "--radio '0xfd' is out of range (0 to 252)"},
      {"--simulate version", "", "--device excludes --simulate"},
      {"-", "get-offset\n\nset-mode 100\n",
       "line 3: set-mode: MODE '100' is out of range (0 to 99)"},
      {"-", "set-mode 1 store-vfo\n", "line 1: set-mode: unexpected argument 'store-vfo'"},
      {"-d '' version", "", "--device '' names no device"},
      {"-b 7 version", "", "--baud '7' is out of range (50 to 4000000)"},
      {"--controller 0 set-mode 1", "",
       "set-mode: --controller 0 is the broadcast address; radioctl needs an address of its own"},
      {"--radio 0 -", "set-mode 1\nprobe\n", "line 2: probe: " + no_reply},
      {"set-mode 3 set-freq \x01" + std::string(70, '7'), "",
       "set-freq: FREQ '\\x01" + std::string(63, '7') + "...' is not a frequency in Hz"},
  };
  for (const Refusal &row : rows) check(row, 2);
}

TEST_F(RadioctlRefusal, UnusableLineExitsOneWithoutSendingAByte) {
  const Refusal rows[] = {
      {"-d " + pty_ + " -b 19201 version", "",
       pty_ + ": cannot run at 19201 baud (Invalid argument)", "open-failed", EINVAL},
      {"-d /nonexistent/ttyX version", "", "/nonexistent/ttyX: No such file or directory",
       "open-failed", ENOENT},
      {"version", "", "no radio at /dev/ttyUSB0; name its device with -d DEVICE, or use --simulate",
       "open-failed", ENOENT},
  };
  for (const Refusal &row : rows) {
    if (row.args == "version" && std::filesystem::exists("/dev/ttyUSB0"))
      continue;  // a radio there
    check(row, 1);
  }
}

TEST_F(RadioctlRefusal, LineAnotherProgramHoldsIsBusy) {
  ASSERT_EQ(flock(holder_, LOCK_EX | LOCK_NB), 0);
  check({"-d " + pty_ + " version", "", pty_ + ": device busy", "busy", EBUSY}, 1);
}

// Runs radioctl with `args` on a pseudo-terminal whose radio answers
// `request` with `answer`.
std::tuple<int, std::string, std::string> answered(const std::string &args,
                                                   const std::string &request,
                                                   const std::string &answer) {
  PtyRadio radio;
  RadioAnswer answering(radio, hex(request), hex(answer));
  return radioctl("-d " + radio.slavePath() + " " + args);
}

// probe skips its echo, two other stations, the radio to another controller
// and another station to radioctl, and shows the first 256 bytes of the body.
TEST(Radioctl, ProbeShowsTheRadiosFrameToRadioctl) {
  std::string body, shown = "aa";
  for (int n = 0; n < 300; ++n) body += " 11";
  for (int n = 1; n < 256; ++n) shown += " 11";
  EXPECT_EQ(answered("probe", "FE FE 20 91 AA 02 FD",
                     "FE FE 20 91 AA 02 FD  FE FE 30 40 FB FD  FE FE E0 20 FB FD"
                     "  FE FE 91 30 FA FD  FE FE 91 20 AA" +
                         body + " FD"),
            std::make_tuple(0, "reply from 0x20 to 0x91: " + shown + "\n", ""));
}

TEST(Radioctl, SetterToAddressZeroAwaitsNoReply) {
  EXPECT_EQ(answered("--radio 0 set-offset +600k", "FE FE 00 91 AA 06 C0 27 09 00 FD", ""),
            std::make_tuple(0, "set-offset: sent to all radios; no reply is awaited\n", ""));
}

TEST(Radioctl, OutputThatCannotBeWrittenExitsOne) {
  const std::string radioctl_path = RADIOCTL_PATH, radiosim_path = RADIOSIM_PATH;
  for (const std::string &line :
       {radioctl_path + " --help", radioctl_path + " set-freq --help", radiosim_path + " --version",
        radiosim_path + " --help", radioctl_path + " --simulate set-mode 3 version"}) {
    Process full("/bin/sh", {"-c", line + " >/dev/full"});
    EXPECT_EQ(full.waitForExit(), 1) << line;
  }
}

// -v shows the library's trace on standard error, where the failure to
// write standard output is reported too.
TEST(Radioctl, TraceGoesToStandardError) {
  Process run("/bin/sh",
              {"-c", RADIOCTL_PATH + std::string(" --simulate -v set-mode 3 version >/dev/full")});
  EXPECT_EQ(run.waitForExit(), 1);
  const std::string err = run.errors();
  EXPECT_NE(err.find("setmode: selecting mode 3\n"), std::string::npos) << err;
  EXPECT_NE(err.find("\nradioctl: cannot write to standard output: No space left on device\n"),
            std::string::npos)
      << err;
}

}  // namespace
