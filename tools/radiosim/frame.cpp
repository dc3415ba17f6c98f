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
    restart(State::Hunt);
    return;
  }
  frame_.body.push_back(byte);
  state_ = State::Body;
}

std::optional<Frame> FrameParser::feed(std::uint8_t byte) {
  switch (state_) {
    case State::Hunt:
      if (byte == kFrameStart) {
        state_ = State::SecondStart;
      }
      break;
    case State::SecondStart:
      state_ = byte == kFrameStart ? State::Destination : State::Hunt;
      break;
    case State::Destination:
      if (byte <= kMaxAddress) {
        frame_.destination = byte;
        state_ = State::Source;
      } else if (byte != kFrameStart) {
        restart(State::Hunt);
      }
      break;
    case State::Source:
      if (byte <= kMaxAddress) {
        frame_.source = byte;
        state_ = State::Body;
      } else {
        restart(byte == kFrameStart ? State::SecondStart : State::Hunt);
      }
      break;
    case State::Body:
      if (byte == kFrameEnd) {
        Frame done = std::move(frame_);
        restart(State::Hunt);
        return done;
      }
      if (byte == kFrameEscape) {
        state_ = State::Escaped;
      } else if (byte == kFrameStart) {
        restart(State::SecondStart);
      } else {
        append(byte);
      }
      break;
    case State::Escaped:
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
