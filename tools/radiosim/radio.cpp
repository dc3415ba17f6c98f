// SPDX-License-Identifier: MIT
// Command decoder of the simulated radio: one table lists every command the
// radio understands with its request length and handler; handle() looks the
// request up, checks its length and lets the handler decode the values,
// update the state and build the reply.
#include "radio.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <tuple>

namespace radiosim {

bool Vfo::operator==(const Vfo &other) const {
  return std::tie(frequency, duplex, tx_tone, rx_tone, codeplug) ==
         std::tie(other.frequency, other.duplex, other.tx_tone, other.rx_tone, other.codeplug);
}

namespace {

constexpr std::uint8_t kNibbleMask = 0x0F;  // one BCD digit
constexpr std::uint64_t kMaxBcdDigit = 9;

using Handler = Outcome (*)(Radio &, const Bytes &);

struct Command {
  std::uint8_t code;
  std::uint8_t subcommand;  // looked at only for kCmdExtended
  std::size_t length;       // whole request body
  const char *name;
  const char *tool_name;  // what radioctl calls it
  Handler run;
};

std::string hexBytes(const std::uint8_t *first, const std::uint8_t *last) {
  std::string text;
  for (const std::uint8_t *p = first; p != last; ++p) {
    text += (text.empty() ? "" : " ") + hexByte(*p);
  }
  return text;
}

// "145.500000 MHz" for 145500000 Hz.
std::string formatMegahertz(std::uint64_t hertz) {
  std::string fraction = std::to_string(hertz % 1000000);
  return std::to_string(hertz / 1000000) + "." + std::string(6 - fraction.size(), '0') + fraction +
         " MHz";
}

std::string tenths(unsigned value) {
  return std::to_string(value / 10) + "." + std::to_string(value % 10);
}

// Decodes packed BCD given most significant byte first; nothing when a
// digit is above nine.
template <typename Iterator>
std::optional<std::uint64_t> bcdValue(Iterator first, Iterator last) {
  std::uint64_t value = 0;
  for (; first != last; ++first) {
    const std::uint64_t high = *first >> 4;
    const std::uint64_t low = *first & kNibbleMask;
    if (high > kMaxBcdDigit || low > kMaxBcdDigit) {
      return std::nullopt;
    }
    value = value * 100 + high * 10 + low;
  }
  return value;
}

std::int32_t readInt32(const std::uint8_t *p) {
  const std::uint32_t bits =
      static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
      static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
  return static_cast<std::int32_t>(bits);
}

void appendInt32(Bytes &out, std::int32_t value) {
  const auto bits = static_cast<std::uint32_t>(value);
  for (unsigned shift = 0; shift < 32; shift += 8) {
    out.push_back(static_cast<std::uint8_t>(bits >> shift));
  }
}

Outcome accepted(std::string log) {
  return {{kStatusAccepted}, std::move(log), true};
}

Outcome dataReply(std::uint8_t subcommand, Bytes data, std::string log) {
  Bytes reply{kCmdExtended, static_cast<std::uint8_t>(kSubReplyFlag | subcommand)};
  reply.insert(reply.end(), data.begin(), data.end());
  return {std::move(reply), std::move(log), false};
}

Outcome badBcd(const Bytes &body) {
  return refusal("BCD digit above 9 in " + hexBytes(body.data(), body.data() + body.size()));
}

Outcome setFrequency(Radio &radio, const Bytes &body) {
  const auto frequency = bcdValue(body.rbegin(), body.rend() - 1);
  if (!frequency) {
    return badBcd(body);
  }
  radio.vfo.frequency = *frequency;
  return accepted("VFO set to " + formatMegahertz(*frequency));
}

Outcome selectMode(Radio &radio, const Bytes &body) {
  const auto mode = bcdValue(body.begin() + 1, body.end());
  if (!mode) {
    return badBcd(body);
  }
  radio.mode = static_cast<std::uint8_t>(*mode);
  return accepted("mode " + std::to_string(radio.mode) + " selected");
}

Outcome storeMode(Radio &radio, const Bytes &) {
  radio.slots[radio.mode] = radio.vfo;
  return accepted("mode " + std::to_string(radio.mode) + " stored");
}

Outcome recallMode(Radio &radio, const Bytes &) {
  radio.vfo = radio.slots[radio.mode];
  return accepted("mode " + std::to_string(radio.mode) + " recalled");
}

Outcome setDuplex(Radio &radio, const Bytes &body) {
  radio.vfo.duplex = body[1];
  return accepted("duplex set to " + hexByte(body[1]));
}

Outcome setTone(Radio &radio, const Bytes &body) {
  const auto tone = bcdValue(body.begin() + 2, body.end());
  if (!tone) {
    return badBcd(body);
  }
  const bool transmit = body[1] == 0;
  (transmit ? radio.vfo.tx_tone : radio.vfo.rx_tone) = static_cast<std::uint16_t>(*tone);
  return accepted(std::string(transmit ? "tx" : "rx") + " PL set to " +
                  tenths(static_cast<unsigned>(*tone)));
}

Outcome getCodeplug(Radio &radio, const Bytes &) {
  return dataReply(kSubGetCodeplug, Bytes(radio.vfo.codeplug.begin(), radio.vfo.codeplug.end()),
                   "codeplug read");
}

Outcome setCodeplug(Radio &radio, const Bytes &body) {
  std::copy(body.begin() + 2, body.end(), radio.vfo.codeplug.begin());
  return accepted("codeplug set to " + hexBytes(body.data() + 2, body.data() + body.size()));
}

Outcome getVersion(Radio &radio, const Bytes &) {
  return dataReply(kSubGetVersion, Bytes(radio.version.begin(), radio.version.end()),
                   "version read");
}

Outcome getConfig(Radio &radio, const Bytes &) {
  return dataReply(kSubGetConfig, Bytes(radio.config.begin(), radio.config.end()), "config read");
}

Outcome setConfig(Radio &radio, const Bytes &body) {
  radio.config = {body[2], body[3]};
  return accepted("config set to " + hexBytes(body.data() + 2, body.data() + 4));
}

Outcome getOffset(Radio &radio, const Bytes &) {
  Bytes data;
  appendInt32(data, radio.tx_offset);
  return dataReply(kSubGetOffset, std::move(data), "tx offset read");
}

Outcome setOffset(Radio &radio, const Bytes &body) {
  radio.tx_offset = readInt32(body.data() + 2);
  return accepted("tx offset set to " + std::to_string(radio.tx_offset));
}

Outcome getSplit(Radio &radio, const Bytes &) {
  Bytes data;
  appendInt32(data, radio.rx_split);
  appendInt32(data, radio.tx_split);
  return dataReply(kSubGetSplit, std::move(data), "VCO split read");
}

Outcome setSplit(Radio &radio, const Bytes &body) {
  radio.rx_split = readInt32(body.data() + 2);
  radio.tx_split = readInt32(body.data() + 6);
  return accepted("VCO split set to rx " + std::to_string(radio.rx_split) + " tx " +
                  std::to_string(radio.tx_split));
}

// clang-format off
constexpr std::array<Command, 15> kCommands{{
    {kCmdSetFrequency, 0, 6, "set VFO frequency", "set-freq", setFrequency},
    {kCmdSelectMode, 0, 2, "select mode", "set-mode", selectMode},
    {kCmdStoreMode, 0, 1, "store mode", "store-vfo", storeMode},
    {kCmdRecallMode, 0, 1, "recall mode", "recall-mode", recallMode},
    {kCmdSetDuplex, 0, 2, "set duplex", "set-duplex", setDuplex},
    {kCmdSetTone, 0, 4, "set PL", "set-pl", setTone},
    {kCmdExtended, kSubGetCodeplug, 2, "get codeplug", "get-codeplug", getCodeplug},
    {kCmdExtended, kSubSetCodeplug, 2 + kCodeplugLength, "set codeplug", "set-codeplug", setCodeplug},
    {kCmdExtended, kSubGetVersion, 2, "get version", "version", getVersion},
    {kCmdExtended, kSubGetConfig, 2, "get config", "get-config", getConfig},
    {kCmdExtended, kSubSetConfig, 4, "set config", "set-config", setConfig},
    {kCmdExtended, kSubGetOffset, 2, "get tx offset", "get-offset", getOffset},
    {kCmdExtended, kSubSetOffset, 6, "set tx offset", "set-offset", setOffset},
    {kCmdExtended, kSubGetSplit, 2, "get VCO split", "get-split", getSplit},
    {kCmdExtended, kSubSetSplit, 10, "set VCO split", "set-split", setSplit},
}};
// clang-format on

const Command *findCommand(const Bytes &body) {
  const auto found =
      std::find_if(kCommands.begin(), kCommands.end(), [&body](const Command &command) {
        return command.code == body[0] &&
               (command.code != kCmdExtended || command.subcommand == body[1]);
      });
  return found == kCommands.end() ? nullptr : &*found;
}

}  // namespace

std::string hexByte(std::uint8_t byte) {
  char text[3];
  std::snprintf(text, sizeof text, "%02x", byte);
  return text;
}

std::string toolName(const Bytes &body) {
  const bool whole = !body.empty() && (body[0] != kCmdExtended || body.size() >= 2);
  const Command *command = whole ? findCommand(body) : nullptr;
  return command == nullptr ? std::string() : command->tool_name;
}

bool isToolName(const std::string &name) {
  return std::any_of(kCommands.begin(), kCommands.end(),
                     [&name](const Command &command) { return name == command.tool_name; });
}

Outcome refusal(const std::string &reason) {
  return {{kStatusRefused}, "refused: " + reason, false};
}

Outcome handle(Radio &radio, const Bytes &body) {
  if (body.empty()) {
    return refusal("empty request");
  }
  if (body[0] == kCmdExtended && body.size() < 2) {
    return refusal("extended command without subcommand");
  }
  const Command *command = findCommand(body);
  if (command == nullptr) {
    return refusal(body[0] == kCmdExtended ? "unknown subcommand " + hexByte(body[1])
                                           : "unknown command " + hexByte(body[0]));
  }
  if (body.size() != command->length) {
    return refusal(std::string(command->name) + " needs " + std::to_string(command->length) +
                   " bytes, got " + std::to_string(body.size()));
  }
  return command->run(radio, body);
}

}  // namespace radiosim
