// SPDX-License-Identifier: MIT
// Soak: ten thousand golden commands to radiosim on a faulty line, with no heap allocation in the
// library.
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <random>
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

#ifdef RADIOLINE_REPLACED_MALLOC
constexpr bool kMallocReplaced = true;
#else
constexpr bool kMallocReplaced = false;
#endif

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

constexpr int kRefuseEvery = 7;
constexpr int kRounds = 667;  // of the fifteen commands: 10,005 exchanges
constexpr int kOpenCycles = 100;

// Runs one library call with the allocation counter on; returns its result.
template <typename Call>
int counted(Call call) {
  counting = !kMallocReplaced;
  const int rc = call();
  counting = false;
  return rc;
}

// The commands once in the table's order, which leaves the radio holding the
// golden values, then in a fresh random order each round; as the setters
// always set those values again, every reader must decode its golden result,
// unless the radio refused it, when nothing may be stored. Calls refused
// before the line allocate nothing either.
TEST(Soak, TenThousandCommandsOnAFaultyLineGetTheirRadiosAnswerAndAllocateNothing) {
  EXPECT_EQ(counted([] {
              delete new std::string(64, 'x');
              return static_cast<int>(allocations.load());
            }),
            kMallocReplaced ? 0 : 2)
      << "the counter counts";
  SimProcess sim(
      {"--echo", "--other-stations", "--noise", "--refuse-every", std::to_string(kRefuseEvery)});
  ASSERT_TRUE(sim.started()) << sim.errors();
  std::string device = sim.slavePath();
  std::mt19937 random(20240601);
  auto order = kGolden;
  int exchanges = 0;
  unsigned char small[4];
  char short_text[] = "1 2 3";
  allocations = 0;
  ASSERT_EQ(counted([&] { return seropen(device.data(), 115200); }), 0);
  for (int round = 0; round < kRounds && !HasFailure(); round++) {
    if (round > 0) std::shuffle(order.begin(), order.end(), random);
    for (const Golden &row : order) {
      const bool refused = ++exchanges % kRefuseEvery == 0;
      Storage storage;
      ASSERT_EQ(counted([&] { return row.call(kRadio, kController, storage); }),
                refused ? EINVAL : 0)
          << row.name << " at exchange " << exchanges;
      ASSERT_EQ(decodedText(row, storage), refused ? decodedText(row, Storage()) : row.decoded)
          << row.name << " at exchange " << exchanges;
    }
  }
  EXPECT_EQ(counted([&] { return getvfocodeplug(kRadio, kController, small, sizeof small); }),
            ENOSPC);
  EXPECT_EQ(counted([&] { return setvfocodeplug(kRadio, kController, short_text); }), EINVAL);
  EXPECT_EQ(counted([] { return setmode(0xFD, kController, 1); }), EINVAL);
  EXPECT_EQ(counted([] { return serclose(); }), 0);
  EXPECT_EQ(allocations, 0);
  std::cout << "soak: " << exchanges << " exchanges\n";
}

// Entries in /proc/self/fd; iterating holds one descriptor, every time.
long openDescriptors() {
  long count = 0;
  for ([[maybe_unused]] const auto &entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    count++;
  }
  return count;
}

TEST(Soak, OpenCloseCyclesFailedOnesIncludedLeaveNoDescriptorOpen) {
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
