// SPDX-License-Identifier: MIT
// Handles from threads: lines of their own in parallel, threads sharing a line.
#include <functional>
#include <thread>
#include <vector>

#include "kit.h"
#include "sim_options.h"

namespace {

// "ok", the data a reader read, or the code a call failed with.
std::string outcome(int rc, const std::string &data = "ok") {
  return rc == 0 ? data : "rc " + std::to_string(rc);
}

// A line of its own to a radiosim started with `options`. radiosim answers
// within milliseconds: a call that waits a second for a byte has lost it.
class SimLine {
 public:
  explicit SimLine(const std::vector<std::string> &options = {}) : sim_(options) {
    EXPECT_EQ(rl_open(sim_.slavePath().c_str(), 115200, &line_), 0) << sim_.errors();
    EXPECT_EQ(rl_settimeout(line_, 1000), 0);
  }
  ~SimLine() { rl_close(line_); }
  SimLine(const SimLine &) = delete;
  SimLine &operator=(const SimLine &) = delete;
  radioline_line *get() const { return line_; }

 private:
  SimProcess sim_;
  radioline_line *line_ = nullptr;
};

// Runs `work(i)` on threads 0 .. count-1 at once; each returns what went
// wrong on it, and all of it is returned.
std::vector<std::string> onThreads(int count, const std::function<std::string(int)> &work) {
  std::vector<std::string> wrong(static_cast<std::size_t>(count));
  std::vector<std::thread> threads;
  for (int i = 0; i < count; i++) {
    threads.emplace_back([&wrong, &work, i] { wrong[static_cast<std::size_t>(i)] = work(i); });
  }
  for (std::thread &thread : threads) thread.join();
  return wrong;
}

// Each line's radio has a version text of its own, and each thread writes
// offsets only its line can give back.
TEST(Threads, LinesOfTheirOwnRunSideBySide) {
  const SimLine lines[] = {SimLine({radiosim::kOptVersionText, "radio 0"}),
                           SimLine({radiosim::kOptVersionText, "radio 1"})};
  const auto wrong = onThreads(2, [&lines](int i) {
    radioline_line *line = lines[i].get();
    unsigned char text[16] = {};
    const int rc = rl_getversion(line, kRadio, kController, text, sizeof text - 1);
    std::string errors = outcome(rc, reinterpret_cast<char *>(text)) == "radio " + std::to_string(i)
                             ? ""
                             : "version " + outcome(rc) + "; ";
    for (long k = 0; k < 100; k++) {
      const long written = i * 1000000L + k;
      long offset = 0;
      const int set = rl_settxoffset(line, kRadio, kController, written);
      const int got = rl_gettxoffset(line, kRadio, kController, &offset);
      if (set != 0 || got != 0 || offset != written) {
        errors += outcome(set) + " " + outcome(got, std::to_string(offset)) + "; ";
      }
    }
    return errors;
  });
  EXPECT_EQ(wrong, std::vector<std::string>(2));
}

// One step of a thread's round: a call on the shared line and what it must
// come to. Each thread's steps touch values no other thread's steps touch.
struct Step {
  std::string (*run)(radioline_line *line);
  const char *expected;
};

char plug_text[] = "1 2 3 4 5 6 7 8 9 a b c d e f 10";

// clang-format off
const std::vector<Step> kRounds[] = {
  {{[](radioline_line *l) { return outcome(rl_setconfig(l, kRadio, kController, 0x12, 0x34)); }, "ok"},
   {[](radioline_line *l) { return outcome(rl_setvfofreq(l, kRadio, kController, 145500000)); }, "ok"},
   {[](radioline_line *l) {
      unsigned char config[2];
      const int rc = rl_getconfig(l, kRadio, kController, config, 2);
      return outcome(rc, hexOf(Bytes(config, config + 2))); }, "12 34"},
   {[](radioline_line *l) { return outcome(rl_setduplex(l, kRadio, kController, 0x11)); }, "ok"}},
  {{[](radioline_line *l) { return outcome(rl_settxoffset(l, kRadio, kController, -600000)); }, "ok"},
   {[](radioline_line *l) { return outcome(rl_setpl(l, kRadio, kController, 885, 1)); }, "ok"},
   {[](radioline_line *l) {
      long offset = 0;
      const int rc = rl_gettxoffset(l, kRadio, kController, &offset);
      return outcome(rc, std::to_string(offset)); }, "-600000"},
   {[](radioline_line *l) { return outcome(rl_setmode(l, kRadio, kController, 3)); }, "ok"}},
  {{[](radioline_line *l) { return outcome(rl_setvcosplit(l, kRadio, kController, 1000, 2000)); }, "ok"},
   {[](radioline_line *l) {
      long tx = 0, rx = 0;
      const int rc = rl_getvcosplitfreq(l, kRadio, kController, &tx, &rx);
      return outcome(rc, std::to_string(tx) + " " + std::to_string(rx)); }, "1000 2000"},
   {[](radioline_line *l) { return outcome(rl_storevfotomode(l, kRadio, kController)); }, "ok"}},
  {{[](radioline_line *l) { return outcome(rl_setvfocodeplug(l, kRadio, kController, plug_text)); }, "ok"},
   {[](radioline_line *l) {
      unsigned char plug[16];
      const int rc = rl_getvfocodeplug(l, kRadio, kController, plug, 16);
      return outcome(rc, hexOf(Bytes(plug, plug + 16))); }, "01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10"},
   {[](radioline_line *l) {
      unsigned char text[16] = {};
      const int rc = rl_getversion(l, kRadio, kController, text, 15);
      return outcome(rc, reinterpret_cast<char *>(text)); }, "radiosim 1.0"}},
};
// clang-format on

// A reply taken by the wrong call fails its form or its data: a reader
// never gets another command's reply, nor a setter a reader's.
TEST(Threads, CallsSharingALineEachGetTheirOwnReply) {
  const SimLine line;
  const auto wrong = onThreads(4, [&line](int i) {
    const std::vector<Step> &round = kRounds[i];
    std::string errors;
    for (std::size_t call = 0; call < 100; call++) {
      const Step &step = round[call % round.size()];
      const std::string got = step.run(line.get());
      if (got != step.expected) errors += "call " + std::to_string(call) + ": " + got + "; ";
    }
    return errors;
  });
  EXPECT_EQ(wrong, std::vector<std::string>(4));
}

}  // namespace
