// SPDX-License-Identifier: MIT
// Benchmark: rate, library CPU time, system calls and serial-line time of one exchange, classic
// and on a line handle; the two in turns; two handles' lines driven side by side from two threads.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "radioline.h"
#include "simproc.h"

namespace {

constexpr char kVersionText[] = "radiosim 1.0";
constexpr long kOffset = -600000;     // its top byte FF goes out escaped
constexpr int kLineBitsPerByte = 10;  // start bit, eight data bits, stop bit
// Counters are printed in units that keep them between 1 and 1000.
constexpr double kMicro = 1e6;
constexpr double kMilli = 1e3;
constexpr int kFrameOverhead = 5;  // FE FE, two addresses, FD
constexpr unsigned char kFirstReserved = 0xFD;

// Bytes a frame with `body` takes on the wire, escapes included.
int wireLength(const Bytes &body) {
  int length = kFrameOverhead;
  for (const unsigned char b : body) length += b >= kFirstReserved ? 2 : 1;
  return length;
}

Bytes le32(long value) {
  Bytes out;
  for (int shift = 0; shift < 32; shift += 8) {
    out.push_back(static_cast<unsigned char>(static_cast<unsigned long>(value) >> shift));
  }
  return out;
}

Bytes with(Bytes head, const Bytes &tail) {
  head.insert(head.end(), tail.begin(), tail.end());
  return head;
}

// Set when an exchange failed or its system calls broke the design, so that
// the run ends with a failing status.
bool failed = false;

void fail(benchmark::State &state, const char *why) {
  failed = true;
  state.SkipWithError(why);
}

// Read and write system calls of this process so far.
struct IoCalls {
  long reads = 0;
  long writes = 0;
};

// Reads /proc/self/io with a single read call, which the next sample counts.
IoCalls ioCalls() {
  IoCalls calls;
  const int fd = open("/proc/self/io", O_RDONLY | O_CLOEXEC);
  char text[512] = {};
  if (fd < 0 || read(fd, text, sizeof text - 1) <= 0) return calls;
  close(fd);
  const char *reads = std::strstr(text, "syscr:");
  const char *writes = std::strstr(text, "syscw:");
  if (reads != nullptr) std::sscanf(reads, "syscr: %ld", &calls.reads);
  if (writes != nullptr) std::sscanf(writes, "syscw: %ld", &calls.writes);
  return calls;
}

double cpuSeconds(clockid_t clock) {
  timespec now{};
  clock_gettime(clock, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

double processCpuSeconds() {
  return cpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
}

// radiosim without echo, noise or other stations, and the classic line open to it.
class Line {
 public:
  Line() : sim_({"--version-text", kVersionText}) {
    std::string device = sim_.slavePath();
    opened_ = sim_.started() && seropen(device.data(), 115200) == 0 &&
              settxoffset(kRadio, kController, kOffset) == 0;
  }
  ~Line() { serclose(); }
  Line(const Line &) = delete;
  Line &operator=(const Line &) = delete;

  bool opened() const { return opened_; }

 private:
  SimProcess sim_;
  bool opened_ = false;
};

bool lineReady() {
  static Line line;
  return line.opened();
}

// A radiosim of its own with `options`, and a line handle open to it.
class HandleLine {
 public:
  explicit HandleLine(const std::vector<std::string> &options) : sim_(options) {
    if (sim_.started() && rl_open(sim_.slavePath().c_str(), 115200, &line_) != 0) line_ = nullptr;
    if (line_ != nullptr && rl_settxoffset(line_, kRadio, kController, kOffset) != 0) {
      rl_close(line_);
      line_ = nullptr;
    }
  }
  ~HandleLine() { rl_close(line_); }
  HandleLine(const HandleLine &) = delete;
  HandleLine &operator=(const HandleLine &) = delete;

  radioline_line *get() const { return line_; }

 private:
  SimProcess sim_;
  radioline_line *line_ = nullptr;
};

// The handle's line for the single exchanges: as the classic one.
radioline_line *handle() {
  static HandleLine line({"--version-text", kVersionText});
  return line.get();
}

// Lines paced like a 19200-baud line, one per benchmark thread.
constexpr int kPacedLines = 2;
radioline_line *pacedLine(int thread) {
  static HandleLine lines[kPacedLines] = {HandleLine({"--wire-baud", "19200"}),
                                          HandleLine({"--wire-baud", "19200"})};
  return lines[thread % kPacedLines].get();
}

// The request and reply bodies of one exchange, as the design puts them on
// the wire.
struct Exchange {
  Bytes request;
  Bytes reply;
};

// Runs `call` once per iteration and reports the counters.
template <typename Call>
void measure(benchmark::State &state, bool ready, const Exchange &design, Call call) {
  if (!ready) {
    fail(state, "radiosim did not start or the line did not open");
    return;
  }
  const IoCalls before = ioCalls();
  const double cpu_before = processCpuSeconds();
  for (auto _ : state) {
    if (call() != 0) {
      fail(state, "the exchange failed");
      return;
    }
  }
  const double cpu = processCpuSeconds() - cpu_before;
  const IoCalls after = ioCalls();
  const auto n = static_cast<double>(state.iterations());
  const double reads = static_cast<double>(after.reads - before.reads - 1) / n;
  const double writes = static_cast<double>(after.writes - before.writes) / n;
  const int request_bytes = wireLength(design.request);
  const int reply_bytes = wireLength(design.reply);
  const double wire_bits = kLineBitsPerByte * (request_bytes + reply_bytes);
  const double wire19200 = wire_bits / 19200;

  state.SetItemsProcessed(state.iterations());
  state.counters["cpu_us"] = cpu / n * kMicro;
  state.counters["reads"] = reads;
  state.counters["writes"] = writes;
  state.counters["wire_bytes"] = request_bytes + reply_bytes;
  state.counters["wire19200_ms"] = wire19200 * kMilli;
  state.counters["wire115200_ms"] = wire_bits / 115200 * kMilli;
  state.counters["cpu_of_19200_pct"] = 100 * cpu / n / wire19200;
  // A reply that fills the command's reply buffer leaves its end byte for
  // the next exchange's hunt, so one read may cross a batch's boundary.
  const double stray_reads = std::abs(reads - reply_bytes) * n;
  if (stray_reads > 1 || writes != request_bytes) {
    fail(state, "system calls differ from one read per byte received and one write per byte sent");
  }
}

const Exchange kSetmode{{0x08, 0x12}, {0xFB}};
const Exchange kGettxoffset{{0xAA, 0x05}, with({0xAA, 0x85}, le32(kOffset))};
const Exchange kGetversion{
    {0xAA, 0x02}, with({0xAA, 0x82}, Bytes(kVersionText, kVersionText + sizeof kVersionText - 1))};

void BM_StatusFormSetmode(benchmark::State &state) {
  measure(state, lineReady(), kSetmode, [] { return setmode(kRadio, kController, 12); });
}

void BM_DataFormGettxoffset(benchmark::State &state) {
  long offset = 0;
  measure(state, lineReady(), kGettxoffset,
          [&] { return gettxoffset(kRadio, kController, &offset); });
}

void BM_DataFormGetversion(benchmark::State &state) {
  unsigned char text[32];
  measure(state, lineReady(), kGetversion,
          [&] { return getversion(kRadio, kController, text, sizeof text); });
}

void BM_HandleStatusFormSetmode(benchmark::State &state) {
  measure(state, handle() != nullptr, kSetmode,
          [] { return rl_setmode(handle(), kRadio, kController, 12); });
}

void BM_HandleDataFormGettxoffset(benchmark::State &state) {
  long offset = 0;
  measure(state, handle() != nullptr, kGettxoffset,
          [&] { return rl_gettxoffset(handle(), kRadio, kController, &offset); });
}

void BM_HandleDataFormGetversion(benchmark::State &state) {
  unsigned char text[32];
  measure(state, handle() != nullptr, kGetversion,
          [&] { return rl_getversion(handle(), kRadio, kController, text, sizeof text); });
}

// Each exchange through the classic call and its handle namesake in turn,
// the order swapped every iteration, so that what the machine does
// meanwhile weighs on both alike: the thread's CPU time of each call, and
// the handle's as a share of the classic's (100: the same cost).
void BM_HandleAgainstClassic(benchmark::State &state) {
  if (!lineReady() || handle() == nullptr) {
    fail(state, "radiosim did not start or a line did not open");
    return;
  }
  long offset = 0;
  unsigned char text[32];
  using Call = std::function<int()>;
  const std::array<std::pair<Call, Call>, 3> calls{{
      {[] { return setmode(kRadio, kController, 12); },
       [] { return rl_setmode(handle(), kRadio, kController, 12); }},
      {[&] { return gettxoffset(kRadio, kController, &offset); },
       [&] { return rl_gettxoffset(handle(), kRadio, kController, &offset); }},
      {[&] { return getversion(kRadio, kController, text, sizeof text); },
       [&] { return rl_getversion(handle(), kRadio, kController, text, sizeof text); }},
  }};
  std::array<double, 3> classic{}, handled{};
  bool handle_first = false;
  for (auto _ : state) {
    for (std::size_t k = 0; k < calls.size(); k++) {
      for (const bool on_handle : {handle_first, !handle_first}) {
        const double start = cpuSeconds(CLOCK_THREAD_CPUTIME_ID);
        if ((on_handle ? calls[k].second : calls[k].first)() != 0) {
          fail(state, "the exchange failed");
          return;
        }
        (on_handle ? handled : classic)[k] += cpuSeconds(CLOCK_THREAD_CPUTIME_ID) - start;
      }
    }
    handle_first = !handle_first;
  }
  const auto n = static_cast<double>(state.iterations());
  const char *names[] = {"setmode", "gettxoffset", "getversion"};
  for (std::size_t k = 0; k < calls.size(); k++) {
    state.counters[std::string(names[k]) + "_classic_us"] = classic[k] / n * kMicro;
    state.counters[std::string(names[k]) + "_handle_us"] = handled[k] / n * kMicro;
    state.counters[std::string(names[k]) + "_handle_pct"] = 100 * handled[k] / classic[k];
  }
}

// setmode on paced lines, each benchmark thread on a line of its own: with
// two threads the exchanges per second are those of both lines together.
void BM_PacedLinesSetmode(benchmark::State &state) {
  radioline_line *line = pacedLine(state.thread_index());
  if (line == nullptr) {
    fail(state, "a paced radiosim did not start or its line did not open");
    return;
  }
  for (auto _ : state) {
    if (rl_setmode(line, kRadio, kController, 12) != 0) {
      fail(state, "the exchange failed");
      return;
    }
  }
  state.SetItemsProcessed(state.iterations());
}

BENCHMARK(BM_StatusFormSetmode)->UseRealTime()->MeasureProcessCPUTime();
BENCHMARK(BM_DataFormGettxoffset)->UseRealTime()->MeasureProcessCPUTime();
BENCHMARK(BM_DataFormGetversion)->UseRealTime()->MeasureProcessCPUTime();
BENCHMARK(BM_HandleStatusFormSetmode)->UseRealTime()->MeasureProcessCPUTime();
BENCHMARK(BM_HandleDataFormGettxoffset)->UseRealTime()->MeasureProcessCPUTime();
BENCHMARK(BM_HandleDataFormGetversion)->UseRealTime()->MeasureProcessCPUTime();
BENCHMARK(BM_HandleAgainstClassic)->UseRealTime();
BENCHMARK(BM_PacedLinesSetmode)->UseRealTime()->Threads(1)->Threads(kPacedLines);

}  // namespace

int main(int argc, char **argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return failed ? 1 : 0;
}
