// SPDX-License-Identifier: MIT
// Line handles from threads: lines of their own side by side, threads sharing a line.
#include <thread>

#include "kit.h"
#include "sim_options.h"

namespace {

// Runs work(line, i) for i from 0 to count - 1, each on a thread of its own
// at once, on a line to sims[i % sims.size()], opened before and closed
// after.
template <typename Work>
void onThreads(int count, const std::vector<SimProcess *> &sims, Work work) {
  std::vector<radioline_line *> lines(sims.size());
  for (std::size_t i = 0; i < sims.size(); i++) {
    ASSERT_EQ(rl_open(sims[i]->slavePath().c_str(), 115200, &lines[i]), 0);
  }
  std::vector<std::thread> threads(static_cast<std::size_t>(count));
  for (int i = 0; i < count; i++) threads[i] = std::thread(work, lines[i % lines.size()], i);
  for (std::thread &thread : threads) thread.join();
  for (radioline_line *line : lines) rl_close(line);
}

// Each line's radio answers with a version text of its own.
TEST(Threads, LinesOfTheirOwnRunSideBySide) {
  SimProcess first({radiosim::kOptVersionText, "radio 0"});
  SimProcess second({radiosim::kOptVersionText, "radio 1"});
  onThreads(2, {&first, &second}, [](radioline_line *line, int i) {
    for (int k = 0; k < 200; k++) {
      unsigned char text[16] = {};
      EXPECT_EQ(rl_getversion(line, kRadio, kController, text, 15), 0);
      EXPECT_EQ(std::string(reinterpret_cast<char *>(text)), "radio " + std::to_string(i));
    }
  });
}

// Two rounds of a setter and a reader of what it set, each on two threads:
// a reply taken by the wrong call fails its form or its data.
// clang-format off
const std::pair<int (*)(radioline_line *), std::string (*)(radioline_line *)> kRounds[] = {
  {[](radioline_line *l) { return rl_settxoffset(l, kRadio, kController, -600000); },
   [](radioline_line *l) { long v = 0; return rl_gettxoffset(l, kRadio, kController, &v) ? "" : std::to_string(v); }},
  {[](radioline_line *l) { return rl_setconfig(l, kRadio, kController, 0x12, 0x34); },
   [](radioline_line *l) { unsigned char d[2]; return rl_getconfig(l, kRadio, kController, d, 2) ? "" : hexOf(Bytes(d, d + 2)); }},
};
// clang-format on

TEST(Threads, CallsSharingALineEachGetTheirOwnReply) {
  SimProcess sim;
  onThreads(4, {&sim}, [](radioline_line *line, int i) {
    for (int k = 0; k < 50; k++) {
      EXPECT_EQ(kRounds[i % 2].first(line), 0);
      EXPECT_EQ(kRounds[i % 2].second(line), i % 2 ? "12 34" : "-600000");
    }
  });
}

}  // namespace
