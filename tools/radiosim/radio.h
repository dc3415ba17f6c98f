// SPDX-License-Identifier: MIT
// State of the simulated radio and its command decoder. The radio holds a
// VFO (frequency, duplex code, transmit and receive PL tones, codeplug), 100
// mode slots that each keep a copy of the VFO, the current slot number, two
// configuration bytes, the transmit offset and the receive/transmit VCO
// split, plus the version text it reports. handle() takes one request body,
// applies it and returns the reply body with one readable log line; it is a
// pure function of the radio state and does no I/O.
#ifndef RADIOSIM_RADIO_H
#define RADIOSIM_RADIO_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "frame.h"

namespace radiosim {

constexpr std::uint8_t kStatusRefused = 0xFA;   // reply body: command refused
constexpr std::uint8_t kStatusAccepted = 0xFB;  // reply body: command accepted

constexpr std::uint8_t kCmdSetFrequency = 0x05;  // VFO frequency, 5 bytes little-endian BCD
constexpr std::uint8_t kCmdSelectMode = 0x08;    // mode slot number, 1 byte BCD
constexpr std::uint8_t kCmdStoreMode = 0x09;     // copy the VFO into the current slot
constexpr std::uint8_t kCmdRecallMode = 0x0A;    // copy the current slot into the VFO
constexpr std::uint8_t kCmdSetDuplex = 0x0F;     // duplex code, 1 plain byte
constexpr std::uint8_t kCmdSetTone = 0x1B;   // tx/rx selector, PL tone as 2 bytes big-endian BCD
constexpr std::uint8_t kCmdExtended = 0xAA;  // extended command, a subcommand follows

constexpr std::uint8_t kSubGetCodeplug = 0x00;  // read the 16-byte codeplug
constexpr std::uint8_t kSubSetCodeplug = 0x01;  // write the 16-byte codeplug
constexpr std::uint8_t kSubGetVersion = 0x02;   // read the version text
constexpr std::uint8_t kSubGetConfig = 0x03;    // read the two configuration bytes
constexpr std::uint8_t kSubSetConfig = 0x04;    // write the two configuration bytes
constexpr std::uint8_t kSubGetOffset = 0x05;    // read the transmit offset
constexpr std::uint8_t kSubSetOffset = 0x06;    // write the transmit offset
constexpr std::uint8_t kSubGetSplit = 0x07;     // read the rx and tx VCO split
constexpr std::uint8_t kSubSetSplit = 0x08;     // write the rx and tx VCO split
constexpr std::uint8_t kSubReplyFlag = 0x80;    // set on a subcommand echoed in a data reply

constexpr std::size_t kModeSlots = 100;
constexpr std::size_t kCodeplugLength = 16;
constexpr std::uint64_t kMaxFrequency = 9999999999;  // ten BCD digits
constexpr std::uint16_t kMaxTone = 9999;             // four BCD digits, tenths

using Codeplug = std::array<std::uint8_t, kCodeplugLength>;
using Config = std::array<std::uint8_t, 2>;

// The settings that a mode slot stores and recalls.
struct Vfo {
  std::uint64_t frequency = 0;  // hertz
  std::uint8_t duplex = 0;
  std::uint16_t tx_tone = 0;  // tenths of a hertz
  std::uint16_t rx_tone = 0;  // tenths of a hertz
  Codeplug codeplug{};

  bool operator==(const Vfo &other) const;
  bool operator!=(const Vfo &other) const { return !(*this == other); }
};

struct Radio {
  Vfo vfo;
  std::array<Vfo, kModeSlots> slots{};
  std::uint8_t mode = 0;  // current slot, below kModeSlots
  Config config{};
  std::int32_t tx_offset = 0;
  std::int32_t rx_split = 0;
  std::int32_t tx_split = 0;
  std::string version;  // taken from the command line, never stored
};

struct Outcome {
  Bytes reply;           // reply body
  std::string log;       // one line, no newline
  bool changed = false;  // the radio's state was modified
};

// Applies one request body to the radio and answers it.
Outcome handle(Radio &radio, const Bytes &body);

// radioctl's name of the command `body` asks for ("set-freq"), or "" for
// none the radio knows.
std::string toolName(const Bytes &body);
// Whether `name` is radioctl's name of a command.
bool isToolName(const std::string &name);

// Reply body for a command that is refused without being looked at.
Outcome refusal(const std::string &reason);

// "0a" for 0x0A.
std::string hexByte(std::uint8_t byte);

}  // namespace radiosim

#endif
