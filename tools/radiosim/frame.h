// SPDX-License-Identifier: MIT
// Frame codec of the simulated radio: the byte values that delimit a frame,
// a byte-at-a-time parser that turns any incoming byte stream into whole
// frames (hunting for the start pair, unescaping the body, dropping broken or
// over-long frames), and an encoder that escapes a body and wraps it in the
// start pair, the two addresses and the end byte. It does no I/O, so the
// parser can be fed anything, including fuzzed input.
#ifndef RADIOSIM_FRAME_H
#define RADIOSIM_FRAME_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace radiosim {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint8_t kFrameEnd = 0xFD;      // closes a frame
constexpr std::uint8_t kFrameStart = 0xFE;    // opens a frame, sent twice
constexpr std::uint8_t kFrameEscape = 0xFF;   // next byte carries a reserved value's low nibble
constexpr std::uint8_t kEscapeMask = 0x0F;    // keeps the low nibble of an escaped byte
constexpr std::uint8_t kUnescapeBits = 0xF0;  // restores the high nibble of an escaped byte
constexpr std::uint8_t kMaxAddress = 0xFC;    // highest bus address; above it bytes are reserved

// Longest body the parser keeps; longer frames are dropped whole.
constexpr std::size_t kMaxBodyLength = 64;

struct Frame {
  std::uint8_t destination = 0;
  std::uint8_t source = 0;
  Bytes body;
};

// Reassembles frames from a byte stream. Bytes before a start pair are
// skipped; a raw start byte inside a frame abandons it and opens a new one;
// a reserved value in an address field or a body longer than kMaxBodyLength
// drops the frame and resumes the hunt.
class FrameParser {
 public:
  std::optional<Frame> feed(std::uint8_t byte);

 private:
  enum class State { kHunt, kSecondStart, kDestination, kSource, kBody, kEscaped };

  void restart(State state);
  void append(std::uint8_t byte);

  State state_ = State::kHunt;
  Frame frame_;
};

// Wire bytes of one frame: start pair, addresses, escaped body, end byte.
Bytes encodeFrame(std::uint8_t destination, std::uint8_t source, const Bytes &body);

}  // namespace radiosim

#endif
