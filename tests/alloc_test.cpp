// SPDX-License-Identifier: MIT
// No heap allocation inside library calls and no descriptor leak across open/close cycles.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <string>

#include "pty_radio.h"
#include "radioline.h"
#include "simproc.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define RADIOLINE_REPLACED_MALLOC 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define RADIOLINE_REPLACED_MALLOC 1
#endif

namespace {

// Heap allocations counted while `counting` is set. The counters are
// atomic so that nothing else in the process can tear them.
std::atomic<bool> counting{false};
std::atomic<long> allocations{0};

}  // namespace

#ifndef RADIOLINE_REPLACED_MALLOC
namespace {

void count_allocation() {
  if (counting.load(std::memory_order_relaxed)) allocations.fetch_add(1);
}

}  // namespace

// The C allocator, counted and handed on to the C library's own entry
// points; operator new and delete come through here too. Names, parameter
// names included, are the C library's.
// NOLINTBEGIN(bugprone-reserved-identifier)
extern "C" {
void *__libc_malloc(size_t __size);
void *__libc_calloc(size_t __nmemb, size_t __size);
void *__libc_realloc(void *__ptr, size_t __size);
void __libc_free(void *__ptr);

void *malloc(size_t __size) noexcept {
  count_allocation();
  return __libc_malloc(__size);
}

void *calloc(size_t __nmemb, size_t __size) noexcept {
  count_allocation();
  return __libc_calloc(__nmemb, __size);
}

void *realloc(void *__ptr, size_t __size) noexcept {
  count_allocation();
  return __libc_realloc(__ptr, __size);
}

void free(void *__ptr) noexcept {
  __libc_free(__ptr);
}
}
// NOLINTEND(bugprone-reserved-identifier)

void *operator new(std::size_t size) {
  void *pointer = std::malloc(size == 0 ? 1 : size);
  if (pointer == nullptr) throw std::bad_alloc();
  return pointer;
}

void *operator new[](std::size_t size) {
  return operator new(size);
}
void operator delete(void *pointer) noexcept {
  std::free(pointer);
}
void operator delete[](void *pointer) noexcept {
  std::free(pointer);
}
void operator delete(void *pointer, std::size_t) noexcept {
  std::free(pointer);
}
void operator delete[](void *pointer, std::size_t) noexcept {
  std::free(pointer);
}
#endif

namespace {

constexpr int kRadio = 0x20;
constexpr int kController = 0x91;
constexpr int kRounds = 200;  // of fifteen commands: 3000 exchanges
constexpr int kOpenCycles = 100;

// Runs `calls` with the allocation counter switched on; returns the count.
template <typename Calls>
long allocations_in(Calls calls) {
  allocations = 0;
  counting = true;
  calls();
  counting = false;
  return allocations.load();
}

// Every command once, on the happy path and on the refused one alike.
int run_all_commands() {
  unsigned char plug[16];
  unsigned char version[32];
  unsigned char config[2];
  long offset = 0;
  long tx = 0;
  long rx = 0;
  char plug_text[] = "0 1 2 3 4 5 6 7 8 9 a b c d e ff";
  int failures = 0;
  failures += setvfofreq(kRadio, kController, 145500000) != 0;
  failures += setmode(kRadio, kController, 12) != 0;
  failures += storevfotomode(kRadio, kController) != 0;
  failures += storemodetovfo(kRadio, kController) != 0;
  failures += setduplex(kRadio, kController, 0x11) != 0;
  failures += setpl(kRadio, kController, 885, 0) != 0;
  failures += getvfocodeplug(kRadio, kController, plug, sizeof plug) != 0;
  failures += setvfocodeplug(kRadio, kController, plug_text) != 0;
  failures += getversion(kRadio, kController, version, sizeof version) != 0;
  failures += getconfig(kRadio, kController, config, sizeof config) != 0;
  failures += setconfig(kRadio, kController, 0x12, 0x34) != 0;
  failures += gettxoffset(kRadio, kController, &offset) != 0;
  failures += settxoffset(kRadio, kController, -600000) != 0;
  failures += getvcosplitfreq(kRadio, kController, &tx, &rx) != 0;
  failures += setvcosplit(kRadio, kController, 1, 2) != 0;
  return failures;
}

// Calls that fail before or without the line: argument checks and a
// reserved address; their result codes, in order.
std::array<int, 5> run_rejected_calls() {
  unsigned char small[4];
  char short_text[] = "1 2 3";
  return {getvfocodeplug(kRadio, kController, small, sizeof small),
          getconfig(kRadio, kController, small, 1), setvfocodeplug(kRadio, kController, short_text),
          setmode(0xFD, kController, 1), setvfofreq(kRadio, kController, -1)};
}

void skip_when_malloc_is_replaced() {
#ifdef RADIOLINE_REPLACED_MALLOC
  GTEST_SKIP() << "AddressSanitizer replaces malloc, so allocations cannot be counted here; "
                  "the plain build runs this test";
#endif
}

TEST(Allocation, ThousandsOfExchangesOnAFaultyLineAllocateNothingInTheLibrary) {
  skip_when_malloc_is_replaced();
  if (IsSkipped()) return;
  SimProcess sim({"--echo", "--other-stations", "--noise", "--refuse-every", "5"});
  ASSERT_TRUE(sim.started()) << sim.errors();
  std::string device = sim.slavePath();
  int failures = 0;
  const long counted = allocations_in([&] {
    if (seropen(device.data(), 19200) != 0) return;
    for (int round = 0; round < kRounds; round++) failures += run_all_commands();
    serclose();
  });
  EXPECT_EQ(counted, 0);
  EXPECT_EQ(failures, kRounds * 15 / 5) << "every fifth command is refused";
}

TEST(Allocation, RejectedCallsAllocateNothing) {
  skip_when_malloc_is_replaced();
  if (IsSkipped()) return;
  PtyRadio radio;
  std::string device = radio.slave_path();
  ASSERT_EQ(seropen(device.data(), 19200), 0);
  std::array<int, 5> codes{};
  EXPECT_EQ(allocations_in([&] { codes = run_rejected_calls(); }), 0);
  EXPECT_EQ(codes, (std::array<int, 5>{ENOSPC, ENOSPC, EINVAL, EINVAL, EINVAL}));
  EXPECT_TRUE(radio.take().empty()) << "nothing reached the line";
  serclose();
}

TEST(Allocation, TheCounterSeesAnAllocation) {
  skip_when_malloc_is_replaced();
  if (IsSkipped()) return;
  EXPECT_EQ(allocations_in([] { delete new std::string(64, 'x'); }), 2);
}

// Entries in /proc/self/fd; iterating holds one descriptor, every time.
long open_descriptors() {
  long count = 0;
  for ([[maybe_unused]] const auto &entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    count++;
  }
  return count;
}

TEST(Descriptors, HundredOpenCloseCyclesLeaveNoDescriptorOpen) {
  PtyRadio radio;
  std::string device = radio.slave_path();
  const long before = open_descriptors();
  for (int cycle = 0; cycle < kOpenCycles; cycle++) {
    ASSERT_EQ(seropen(device.data(), 19200), 0);
    ASSERT_EQ(serclose(), 0);
  }
  EXPECT_EQ(open_descriptors(), before);
}

TEST(Descriptors, FailedOpensLeaveNothingThatSercloseDoesNotClose) {
  PtyRadio radio;
  std::string device = radio.slave_path();
  char missing[] = "/nonexistent/radioline-device";
  char not_a_terminal[] = "/dev/null";
  const long before = open_descriptors();
  for (int cycle = 0; cycle < kOpenCycles; cycle++) {
    ASSERT_EQ(seropen(missing, 19200), ENOENT);
    ASSERT_EQ(serclose(), -1);
    ASSERT_EQ(seropen(not_a_terminal, 19200), ENOTTY);
    ASSERT_EQ(serclose(), 0);
    ASSERT_EQ(seropen(device.data(), 12345), EINVAL);
    ASSERT_EQ(serclose(), 0);
  }
  EXPECT_EQ(open_descriptors(), before);
}

}  // namespace
