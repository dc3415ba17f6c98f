// SPDX-License-Identifier: MIT
// Soak: ten thousand golden commands to radiosim on a faulty line, every result as the radio means
// it.
#include <algorithm>
#include <cerrno>
#include <iostream>
#include <random>

#include "kit.h"

namespace {

constexpr int kRefuseEvery = 7;
constexpr int kRounds = 667;  // of the fifteen commands: 10,005 exchanges

// The commands once in the table's order, which leaves the radio holding the
// golden values, then in a fresh random order each round; as the setters
// always set those values again, every reader must decode its golden result,
// unless the radio refused it, when nothing may be stored.
TEST(Soak, TenThousandCommandsOnAFaultyLineAllGetTheirRadiosAnswer) {
  SimProcess sim(
      {"--echo", "--other-stations", "--noise", "--refuse-every", std::to_string(kRefuseEvery)});
  ASSERT_TRUE(sim.started()) << sim.errors();
  std::string device = sim.slavePath();
  ASSERT_EQ(seropen(device.data(), 115200), 0);
  std::mt19937 random(20240601);
  auto order = kGolden;
  int exchanges = 0;
  for (int round = 0; round < kRounds && !HasFailure(); round++) {
    if (round > 0) std::shuffle(order.begin(), order.end(), random);
    for (const Golden &row : order) {
      const bool refused = ++exchanges % kRefuseEvery == 0;
      Storage storage;
      ASSERT_EQ(row.call(kRadio, kController, storage), refused ? EINVAL : 0)
          << row.name << " at exchange " << exchanges;
      EXPECT_EQ(decodedText(row, storage), refused ? decodedText(row, Storage()) : row.decoded)
          << row.name << " at exchange " << exchanges;
    }
  }
  EXPECT_EQ(serclose(), 0);
  std::cout << "soak: " << exchanges << " exchanges\n";
}

}  // namespace
