// SPDX-License-Identifier: MIT
// Frame parser state machine and frame encoder of the simulated radio; see
// frame.h for the rules it applies to a byte stream.
#include "frame.h"

namespace radiosim {

void FrameParser::restart(State state) {
  state_ = state;
  frame_ = Frame{};
}

void FrameParser::append(std::uint8_t byte) {
  if (frame_.body.size() == kMaxBodyLength) {
    restart(State::kHunt);
    return;
  }
  frame_.body.push_back(byte);
  state_ = State::kBody;
}

std::optional<Frame> FrameParser::feed(std::uint8_t byte) {
  switch (state_) {
    case State::kHunt:
      if (byte == kFrameStart) {
        state_ = State::kSecondStart;
      }
      break;
    case State::kSecondStart:
      state_ = byte == kFrameStart ? State::kDestination : State::kHunt;
      break;
    case State::kDestination:
      if (byte <= kMaxAddress) {
        frame_.destination = byte;
        state_ = State::kSource;
      } else if (byte != kFrameStart) {
        restart(State::kHunt);
      }
      break;
    case State::kSource:
      if (byte <= kMaxAddress) {
        frame_.source = byte;
        state_ = State::kBody;
      } else {
        restart(byte == kFrameStart ? State::kSecondStart : State::kHunt);
      }
      break;
    case State::kBody:
      if (byte == kFrameEnd) {
        Frame done = std::move(frame_);
        restart(State::kHunt);
        return done;
      }
      if (byte == kFrameEscape) {
        state_ = State::kEscaped;
      } else if (byte == kFrameStart) {
        restart(State::kSecondStart);
      } else {
        append(byte);
      }
      break;
    case State::kEscaped:
      append(static_cast<std::uint8_t>(byte | kUnescapeBits));
      break;
  }
  return std::nullopt;
}

Bytes encodeFrame(std::uint8_t destination, std::uint8_t source, const Bytes &body) {
  Bytes wire{kFrameStart, kFrameStart, destination, source};
  for (std::uint8_t byte : body) {
    if (byte >= kFrameEnd) {
      wire.push_back(kFrameEscape);
      wire.push_back(static_cast<std::uint8_t>(byte & kEscapeMask));
    } else {
      wire.push_back(byte);
    }
  }
  wire.push_back(kFrameEnd);
  return wire;
}

}  // namespace radiosim
