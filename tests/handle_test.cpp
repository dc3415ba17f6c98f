// SPDX-License-Identifier: MIT
// Line handles: refused opens and NULL lines, the time-out, the trace callback.
#include <chrono>
#include <filesystem>
#include <new>

#include "kit.h"

namespace {

bool refuse_allocation = false;  // the next nothrow allocation fails

}  // namespace

// rl_open()'s allocation, refused on request; otherwise the throwing form's,
// which the library's delete matches (running out of memory ends the test).
void *operator new(std::size_t size, const std::nothrow_t & /*tag*/) noexcept {  // NOLINT
  return std::exchange(refuse_allocation, false) ? nullptr : ::operator new(size);
}

namespace {

auto openDescriptors() {
  return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {});
}

// A device that would not take the settings is closed again. Every call on
// a line refuses a NULL one; a few stand for all.
TEST(Handle, BadOpensAndNullLinesAreRefused) {
  PtyRadio radio;
  const char *pty = radio.slavePath().c_str();
  const std::tuple<const char *, bool, int> opens[] = {
      {"/dev/null", false, ENOTTY}, {nullptr, false, EINVAL}, {pty, true, ENOMEM}};
  for (const auto &[path, refuse, code] : opens) {
    const auto before = openDescriptors();
    radioline_line *line = reinterpret_cast<radioline_line *>(&radio);
    refuse_allocation = refuse;
    errno = 0;
    EXPECT_EQ(std::tuple(rl_open(path, 19200, &line), errno), std::tuple(code, code));
    EXPECT_EQ(std::tuple(line, openDescriptors()), std::tuple(nullptr, before));
  }
  for (const int rc : {rl_open(pty, 19200, nullptr), rl_close(nullptr),
                       rl_settrace(nullptr, nullptr, nullptr), rl_rawcharin(nullptr, nullptr)})
    EXPECT_EQ(rc, EINVAL);
}

// A radio that never answers: the wait ends long before the classic five
// seconds.
TEST(Handle, TimeoutEndsTheWaitForASilentRadio) {
  PtyRadio radio;
  radioline_line *line = nullptr;
  ASSERT_EQ(rl_open(radio.slavePath().c_str(), 19200, &line), 0);
  for (const int ms : {0, -1}) EXPECT_EQ(rl_settimeout(line, ms), EINVAL) << ms;
  ASSERT_EQ(rl_settimeout(line, 200), 0);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(rl_setmode(line, kRadio, kController, 12), ETIMEDOUT);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  rl_close(line);
}

using HandleTrace = LineTest;

// The same calls on the classic line, traced to standard error, and on a
// handle, where debug has no say: the same bytes come back, then the line
// hangs up and a write fails with its perror() line.
TEST_F(HandleTrace, CallbackGetsTheClassicLines) {
  PtyRadio radio;
  radioline_line *line = nullptr;
  std::string trace;
  ASSERT_EQ(rl_open(radio.slavePath().c_str(), 19200, &line), 0);
  const radioline_trace_fn collect = [](void *context, const char *text) {
    *static_cast<std::string *>(context) += std::string(text) + "\n";
  };
  ASSERT_EQ(rl_settrace(line, collect, &trace), 0);
  for (PtyRadio *each : {&radio, &radio_}) each->send(reply(kGolden[14].reply));
  long tx = 0, rx = 0;
  debug = 1;
  const std::string classic = stderrOf([&] {
    getvcosplitfreq(kRadio, kController, &tx, &rx);
    radio_.hangUp();
    storevfotomode(kRadio, kController);
  });
  EXPECT_EQ(stderrOf([&] {
              rl_getvcosplitfreq(line, kRadio, kController, &tx, &rx);
              radio.hangUp();
              rl_storevfotomode(line, kRadio, kController);
            }),
            "");
  EXPECT_EQ(trace, classic);
  rl_close(line);
}

}  // namespace
