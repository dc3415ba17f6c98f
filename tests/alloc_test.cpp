// SPDX-License-Identifier: MIT
// No heap allocation inside library calls and no descriptor leak across open/close cycles.
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "kit.h"

#if defined(__SANITIZE_ADDRESS__)
#define RADIOLINE_REPLACED_MALLOC 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define RADIOLINE_REPLACED_MALLOC 1
#endif
#endif

namespace {

std::atomic<bool> counting{false};
std::atomic<long> allocations{0};

}  // namespace

#ifndef RADIOLINE_REPLACED_MALLOC
// The C allocator, counted and handed on to the C library's own entry
// points; operator new comes through here too. Names, parameter names
// included, are the C library's.
// NOLINTBEGIN(bugprone-reserved-identifier,readability-identifier-naming)
extern "C" {
void *__libc_malloc(size_t __size);
void *__libc_calloc(size_t __nmemb, size_t __size);
void *__libc_realloc(void *__ptr, size_t __size);

void *malloc(size_t __size) noexcept {
  if (counting) allocations++;
  return __libc_malloc(__size);
}
void *calloc(size_t __nmemb, size_t __size) noexcept {
  if (counting) allocations++;
  return __libc_calloc(__nmemb, __size);
}
void *realloc(void *__ptr, size_t __size) noexcept {
  if (counting) allocations++;
  return __libc_realloc(__ptr, __size);
}
}
// NOLINTEND(bugprone-reserved-identifier,readability-identifier-naming)
#endif

namespace {

constexpr int kRounds = 200;  // of the fifteen commands: 3000 exchanges
constexpr int kOpenCycles = 100;

template <typename Calls>
long allocationsIn(Calls calls) {
  allocations = 0;
  counting = true;
  calls();
  counting = false;
  return allocations.load();
}

#ifdef RADIOLINE_REPLACED_MALLOC
constexpr bool kMallocReplaced = true;
#else
constexpr bool kMallocReplaced = false;
#endif

// Every command on the happy path and on the refused one, and calls
// refused before the line (argument checks, a reserved address).
TEST(Allocation, ThousandsOfExchangesOnAFaultyLineAndRefusedCallsAllocateNothing) {
  if (kMallocReplaced) GTEST_SKIP() << "AddressSanitizer owns malloc; the plain build counts";
  EXPECT_EQ(allocationsIn([] { delete new std::string(64, 'x'); }), 2) << "the counter counts";
  SimProcess sim({"--echo", "--other-stations", "--noise", "--refuse-every", "5"});
  ASSERT_TRUE(sim.started()) << sim.errors();
  std::string device = sim.slavePath();
  int failures = 0;
  unsigned char small[4];
  char short_text[] = "1 2 3";
  const long counted = allocationsIn([&] {
    if (seropen(device.data(), 19200) != 0) return;
    for (int round = 0; round < kRounds; round++) {
      for (const Golden &row : kGolden) {
        Storage storage;
        failures += row.call(kRadio, kController, storage) != 0;
      }
    }
    failures += getvfocodeplug(kRadio, kController, small, sizeof small) == ENOSPC;
    failures += setvfocodeplug(kRadio, kController, short_text) == EINVAL;
    failures += setmode(0xFD, kController, 1) == EINVAL;
    serclose();
  });
  EXPECT_EQ(counted, 0);
  EXPECT_EQ(failures, kRounds * 15 / 5 + 3) << "every fifth command is refused";
}

// Entries in /proc/self/fd; iterating holds one descriptor, every time.
long openDescriptors() {
  long count = 0;
  for ([[maybe_unused]] const auto &entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    count++;
  }
  return count;
}

TEST(Descriptors, OpenCloseCyclesFailedOnesIncludedLeaveNoDescriptorOpen) {
  PtyRadio radio;
  std::string device = radio.slavePath();
  char missing[] = "/nonexistent/radioline-device";
  char not_a_terminal[] = "/dev/null";
  const long before = openDescriptors();
  for (int cycle = 0; cycle < kOpenCycles; cycle++) {
    ASSERT_EQ(seropen(device.data(), 19200), 0);
    ASSERT_EQ(serclose(), 0);
    ASSERT_EQ(seropen(missing, 19200), ENOENT);
    ASSERT_EQ(serclose(), -1);
    ASSERT_EQ(seropen(not_a_terminal, 19200), ENOTTY);
    ASSERT_EQ(serclose(), 0);
    ASSERT_EQ(seropen(device.data(), 12345), EINVAL);
    ASSERT_EQ(serclose(), 0);
  }
  EXPECT_EQ(openDescriptors(), before);
}

}  // namespace
