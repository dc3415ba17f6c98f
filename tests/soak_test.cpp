// SPDX-License-Identifier: MIT
// Soak: 10,000 commands to radiosim on a faulty line, each checked against a model radio.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <random>
#include <string>
#include <vector>

#include "radio.h"
#include "radioline.h"
#include "simproc.h"
#include "state_file.h"

namespace {

constexpr int kRadio = 0x20;
constexpr int kController = 0x91;
constexpr unsigned kRefuseEvery = 7;
constexpr int kSegments = 10;
constexpr int kRoundsPerSegment = 67;  // 67 rounds of all fifteen: 1005 commands
constexpr std::uint_fast64_t kSeed = 20240601;
// Reserved frame bytes in the text make the radio escape them in its reply.
constexpr char kVersionText[] = "soak radio \xfd\xfe\xff 2.0";
constexpr std::uint8_t kUnwritten = 0xA5;
constexpr long kUnwrittenLong = 0x5A5A5A5A;
constexpr std::size_t kVersionBuffer = 40;
constexpr long kMaxFrequency = 9999999999;
constexpr long kMaxMode = 99;
constexpr long kMaxTone = 9999;
constexpr int kPlugBytes = 16;

using Bytes = std::vector<std::uint8_t>;

// The low 32 bits of `value` as the radio keeps them.
std::int32_t low32(long value) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
}

// A directory whose files live in memory where there is one: the radio
// flushes its state file to disk after every change.
std::filesystem::path state_directory() {
  const std::filesystem::path memory = "/dev/shm";
  return std::filesystem::is_directory(memory) ? memory : std::filesystem::temp_directory_path();
}

class Soak : public ::testing::Test {
 protected:
  using Operation = void (Soak::*)();

  // Starts radiosim on the saved state, runs `rounds` rounds of all fifteen
  // commands in random order, hangs up and compares the saved state.
  void run_segment(int rounds);
  void TearDown() override { std::filesystem::remove(state_path_); }

  int exchanges_ = 0;
  int refusals_ = 0;

 private:
  // Counts the next command; false when the radio is due to refuse it.
  bool next_accepted();
  std::string context(const char *name) const;
  long uniform(long low, long high) {
    return std::uniform_int_distribution<long>(low, high)(random_);
  }
  std::string plug_text(const std::array<std::uint8_t, kPlugBytes> &plug);
  void expect_state_saved() const;

  void set_frequency();
  void set_mode();
  void store_vfo_to_mode();
  void store_mode_to_vfo();
  void set_duplex();
  void set_pl();
  void get_codeplug();
  void set_codeplug();
  void get_version();
  void get_config();
  void set_config();
  void get_tx_offset();
  void set_tx_offset();
  void get_vco_split();
  void set_vco_split();

  static constexpr std::array<Operation, 15> kOperations{
      &Soak::set_frequency,     &Soak::set_mode,      &Soak::store_vfo_to_mode,
      &Soak::store_mode_to_vfo, &Soak::set_duplex,    &Soak::set_pl,
      &Soak::get_codeplug,      &Soak::set_codeplug,  &Soak::get_version,
      &Soak::get_config,        &Soak::set_config,    &Soak::get_tx_offset,
      &Soak::set_tx_offset,     &Soak::get_vco_split, &Soak::set_vco_split};

  std::mt19937_64 random_{kSeed};
  radiosim::Radio model_;  // what the radio must hold
  unsigned segment_commands_ = 0;
  const std::filesystem::path state_path_ =
      state_directory() / ("radioline-soak-" + std::to_string(getpid()) + ".state");
};

void Soak::run_segment(int rounds) {
  SimProcess sim({"--state", state_path_.string(), "--echo", "--other-stations", "--noise",
                  "--refuse-every", std::to_string(kRefuseEvery), "--version-text", kVersionText});
  ASSERT_TRUE(sim.started()) << sim.errors();
  std::string device = sim.slavePath();
  ASSERT_EQ(seropen(device.data(), 115200), 0);
  segment_commands_ = 0;
  std::array<Operation, 15> order = kOperations;
  for (int round = 0; round < rounds && !HasFatalFailure(); round++) {
    std::shuffle(order.begin(), order.end(), random_);
    for (const Operation operation : order) {
      (this->*operation)();
      if (HasFatalFailure()) break;
    }
  }
  EXPECT_EQ(serclose(), 0);
  ASSERT_EQ(sim.waitForExit(), 0) << sim.errors();
  expect_state_saved();
}

bool Soak::next_accepted() {
  exchanges_++;
  const bool refused = ++segment_commands_ % kRefuseEvery == 0;
  refusals_ += refused ? 1 : 0;
  return !refused;
}

std::string Soak::context(const char *name) const {
  return std::string(name) + " at exchange " + std::to_string(exchanges_);
}

// The radio's own file of its state holds exactly what the model holds.
void Soak::expect_state_saved() const {
  radiosim::Radio saved;
  std::string error;
  ASSERT_EQ(radiosim::loadState(state_path_.string(), saved, error), radiosim::StateLoad::kLoaded)
      << error;
  EXPECT_TRUE(saved.vfo == model_.vfo) << "VFO after exchange " << exchanges_;
  EXPECT_TRUE(saved.slots == model_.slots) << "mode slots after exchange " << exchanges_;
  EXPECT_EQ(saved.mode, model_.mode);
  EXPECT_EQ(saved.config, model_.config);
  EXPECT_EQ(saved.tx_offset, model_.tx_offset);
  EXPECT_EQ(saved.rx_split, model_.rx_split);
  EXPECT_EQ(saved.tx_split, model_.tx_split);
}

// Sixteen numbers in one of the forms the parser takes: bare, 0x-prefixed
// upper case, or wider than a byte; separated by assorted white space.
std::string Soak::plug_text(const std::array<std::uint8_t, kPlugBytes> &plug) {
  static constexpr std::array<const char *, 3> kSeparators{" ", "\t", "\n  "};
  const long form = uniform(0, 2);
  std::string text;
  for (const std::uint8_t byte : plug) {
    char number[16];
    const unsigned wide = byte | static_cast<unsigned>(uniform(0, 0xFFF)) << 8;
    if (form == 0) std::snprintf(number, sizeof number, "%x", byte);
    if (form == 1) std::snprintf(number, sizeof number, "0x%02X", byte);
    if (form == 2) std::snprintf(number, sizeof number, "%x", wide);
    text += number;
    text += kSeparators[static_cast<std::size_t>(uniform(0, 2))];
  }
  return text + (uniform(0, 1) == 0 ? "" : "trailing words");
}

void Soak::set_frequency() {
  const long freq = uniform(0, kMaxFrequency);
  const bool accepted = next_accepted();
  ASSERT_EQ(setvfofreq(kRadio, kController, freq), accepted ? 0 : EINVAL) << context("setvfofreq");
  if (accepted) model_.vfo.frequency = static_cast<std::uint64_t>(freq);
}

void Soak::set_mode() {
  const long mode = uniform(0, kMaxMode);
  const bool accepted = next_accepted();
  ASSERT_EQ(setmode(kRadio, kController, mode), accepted ? 0 : EINVAL) << context("setmode");
  if (accepted) model_.mode = static_cast<std::uint8_t>(mode);
}

void Soak::store_vfo_to_mode() {
  const bool accepted = next_accepted();
  ASSERT_EQ(storevfotomode(kRadio, kController), accepted ? 0 : EINVAL)
      << context("storevfotomode");
  if (accepted) model_.slots[model_.mode] = model_.vfo;
}

void Soak::store_mode_to_vfo() {
  const bool accepted = next_accepted();
  ASSERT_EQ(storemodetovfo(kRadio, kController), accepted ? 0 : EINVAL)
      << context("storemodetovfo");
  if (accepted) model_.vfo = model_.slots[model_.mode];
}

void Soak::set_duplex() {
  const long duplex = uniform(0, 0xFF);
  const bool accepted = next_accepted();
  ASSERT_EQ(setduplex(kRadio, kController, duplex), accepted ? 0 : EINVAL) << context("setduplex");
  if (accepted) model_.vfo.duplex = static_cast<std::uint8_t>(duplex);
}

void Soak::set_pl() {
  const long pl = uniform(0, kMaxTone);
  const int txrx = static_cast<int>(uniform(0, 2) == 0 ? 0 : uniform(1, 0xFF));
  const bool accepted = next_accepted();
  ASSERT_EQ(setpl(kRadio, kController, pl, txrx), accepted ? 0 : EINVAL) << context("setpl");
  if (accepted)
    (txrx == 0 ? model_.vfo.tx_tone : model_.vfo.rx_tone) = static_cast<std::uint16_t>(pl);
}

void Soak::get_codeplug() {
  Bytes plug(kPlugBytes, kUnwritten);
  const bool accepted = next_accepted();
  ASSERT_EQ(getvfocodeplug(kRadio, kController, plug.data(), kPlugBytes), accepted ? 0 : EINVAL)
      << context("getvfocodeplug");
  const Bytes want = accepted ? Bytes(model_.vfo.codeplug.begin(), model_.vfo.codeplug.end())
                              : Bytes(kPlugBytes, kUnwritten);
  ASSERT_EQ(plug, want) << context("getvfocodeplug");
}

void Soak::set_codeplug() {
  std::array<std::uint8_t, kPlugBytes> plug{};
  for (std::uint8_t &byte : plug) byte = static_cast<std::uint8_t>(uniform(0, 0xFF));
  std::string text = plug_text(plug);
  const bool accepted = next_accepted();
  ASSERT_EQ(setvfocodeplug(kRadio, kController, text.data()), accepted ? 0 : EINVAL)
      << context("setvfocodeplug") << " with [" << text << "]";
  if (accepted) model_.vfo.codeplug = plug;
}

void Soak::get_version() {
  const int buflen = static_cast<int>(uniform(0, kVersionBuffer));
  Bytes field(kVersionBuffer, kUnwritten);
  const bool accepted = next_accepted();
  ASSERT_EQ(getversion(kRadio, kController, field.data(), buflen), accepted ? 0 : EINVAL)
      << context("getversion");
  Bytes want(kVersionBuffer, kUnwritten);
  if (accepted) {
    const std::string text = kVersionText;
    std::fill_n(want.begin(), buflen, 0);
    std::copy_n(text.begin(), std::min<std::size_t>(text.size(), buflen), want.begin());
  }
  ASSERT_EQ(field, want) << context("getversion") << " into " << buflen << " bytes";
}

void Soak::get_config() {
  Bytes config(2, kUnwritten);
  const bool accepted = next_accepted();
  ASSERT_EQ(getconfig(kRadio, kController, config.data(), 2), accepted ? 0 : EINVAL)
      << context("getconfig");
  const Bytes want =
      accepted ? Bytes(model_.config.begin(), model_.config.end()) : Bytes(2, kUnwritten);
  ASSERT_EQ(config, want) << context("getconfig");
}

void Soak::set_config() {
  const auto data0 = static_cast<unsigned char>(uniform(0, 0xFF));
  const auto data1 = static_cast<unsigned char>(uniform(0, 0xFF));
  const bool accepted = next_accepted();
  ASSERT_EQ(setconfig(kRadio, kController, data0, data1), accepted ? 0 : EINVAL)
      << context("setconfig");
  if (accepted) model_.config = {data0, data1};
}

void Soak::get_tx_offset() {
  long offset = kUnwrittenLong;
  const bool accepted = next_accepted();
  ASSERT_EQ(gettxoffset(kRadio, kController, &offset), accepted ? 0 : EINVAL)
      << context("gettxoffset");
  ASSERT_EQ(offset, accepted ? model_.tx_offset : kUnwrittenLong) << context("gettxoffset");
}

void Soak::set_tx_offset() {
  const long offset = uniform(LONG_MIN, LONG_MAX);  // only the low 32 bits travel
  const bool accepted = next_accepted();
  ASSERT_EQ(settxoffset(kRadio, kController, offset), accepted ? 0 : EINVAL)
      << context("settxoffset");
  if (accepted) model_.tx_offset = low32(offset);
}

void Soak::get_vco_split() {
  long tx = kUnwrittenLong;
  long rx = kUnwrittenLong;
  const bool accepted = next_accepted();
  ASSERT_EQ(getvcosplitfreq(kRadio, kController, &tx, &rx), accepted ? 0 : EINVAL)
      << context("getvcosplitfreq");
  EXPECT_EQ(tx, accepted ? model_.tx_split : kUnwrittenLong) << context("getvcosplitfreq");
  EXPECT_EQ(rx, accepted ? model_.rx_split : kUnwrittenLong) << context("getvcosplitfreq");
}

void Soak::set_vco_split() {
  const long tx = uniform(INT32_MIN, INT32_MAX);
  const long rx = uniform(LONG_MIN, LONG_MAX);
  const bool accepted = next_accepted();
  ASSERT_EQ(setvcosplit(kRadio, kController, tx, rx), accepted ? 0 : EINVAL)
      << context("setvcosplit");
  if (accepted) {
    model_.tx_split = low32(tx);
    model_.rx_split = low32(rx);
  }
}

TEST_F(Soak, TenThousandCommandsOnAFaultyLineAllAgreeWithTheModelRadio) {
  for (int segment = 0; segment < kSegments && !HasFatalFailure(); segment++) {
    run_segment(kRoundsPerSegment);
  }
  std::cout << "soak: " << exchanges_ << " exchanges, " << refusals_ << " refused by the radio\n";
  EXPECT_GE(exchanges_, 10000);
  EXPECT_GT(refusals_, 0);
}

}  // namespace
