// SPDX-License-Identifier: MIT
// Soak: ten thousand golden commands to radiosim on a faulty line, with no heap allocation in the
// library.
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <random>

#include "kit.h"

namespace {

bool counting = false;
[[maybe_unused]] long allocations = 0;  // unused where the sanitizer allocates

}  // namespace

// AddressSanitizer brings an allocator of its own, which counting would bypass.
#if defined(__SANITIZE_ADDRESS__)
#define RADIOLINE_OWN_ALLOCATOR 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define RADIOLINE_OWN_ALLOCATOR 1
#endif
#endif

#ifndef RADIOLINE_OWN_ALLOCATOR
// The C allocator's entry point, counted and handed on to the C library's
// own; operator new comes through here too. Names, parameter names included, are the
// C library's.
// NOLINTBEGIN(bugprone-reserved-identifier,readability-identifier-naming)
extern "C" {
void *__libc_malloc(size_t __size);

void *malloc(size_t __size) noexcept {
  if (counting) allocations++;
  return __libc_malloc(__size);
}
}
// NOLINTEND(bugprone-reserved-identifier,readability-identifier-naming)
#endif

namespace {

// Runs `call` with the allocation counter on; returns its result.
template <typename Call>
auto counted(Call call) {
  counting = true;
  const auto result = call();
  counting = false;
  return result;
}

// The commands once in the table's order, which leaves the radio holding the
// golden values, then in a fresh random order each round; as the setters
// always set those values again, every reader must decode its golden result,
// unless the radio refused it, when nothing may be stored. Refusals are
// rare: after each, the next command waits for the line to fall quiet.
TEST(Soak, FaultyLineAnswersTenThousandCommandsWithoutAllocating) {
  SimProcess sim({"--echo", "--other-stations", "--noise", "--refuse-every", "211"});
  std::string device = sim.slavePath();
  std::mt19937 random(20240601);
  auto order = kGolden;
  int exchanges = 0;
  ASSERT_EQ(counted([&] { return seropen(device.data(), 115200); }), 0) << sim.errors();
  // 667 rounds of the fifteen commands: 10,005 exchanges.
  for (int round = 0; round < 667 && !HasFailure(); round++) {
    if (round > 0) std::shuffle(order.begin(), order.end(), random);
    for (const Golden &row : order) {
      const bool refused = ++exchanges % 211 == 0;  // as radiosim was told
      SCOPED_TRACE(std::string(row.name) + " at exchange " + std::to_string(exchanges));
      Storage storage;
      ASSERT_EQ(counted([&] { return row.call(kRadio, kController, storage); }),
                refused ? EINVAL : 0);
      ASSERT_EQ(decodedText(row, storage), refused ? decodedText(row, Storage()) : row.decoded);
    }
  }
  EXPECT_EQ(counted([] { return serclose(); }), 0);
  delete counted([] { return new std::string(64, 'x'); });
#ifndef RADIOLINE_OWN_ALLOCATOR
  EXPECT_EQ(allocations, 2) << "none by the library; two by this check that the counter counts";
#endif
}

}  // namespace
