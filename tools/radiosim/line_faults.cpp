// SPDX-License-Identifier: MIT
// Line behaviours of the simulated radio: counts the commands addressed to
// it, decides which are refused (a command it lacks, every Nth) or left
// unanswered, and surrounds each reply
// with the echo, the other stations' frame and the noise that the options
// ask for.
#include "line_faults.h"

#include <algorithm>
#include <array>

namespace radiosim {
namespace {

// Stray bytes put before a frame; none of them is a start byte.
constexpr std::array<std::uint8_t, 4> kNoise{0x00, 0x13, kFrameEnd, 0x7F};

// Body of the frame two other stations exchange: a refusal followed by an
// escaped end byte, so that a controller taking it for its own reply fails
// visibly, and one ending the frame at the escaped byte does too.
const Bytes kOtherStationBody{kStatusRefused, kFrameEnd};

constexpr std::array<std::uint8_t, 4> kOtherStations{0x30, 0x40, 0x50,
                                                     0x60};  // bus addresses of other stations

std::string ordinal(unsigned n) {
  const unsigned tens = n % 100;
  const unsigned ones = n % 10;
  const char *suffix = (tens >= 11 && tens <= 13) || ones == 0 || ones > 3 ? "th"
                       : ones == 1                                         ? "st"
                       : ones == 2                                         ? "nd"
                                                                           : "rd";
  return std::to_string(n) + suffix;
}

// Two station addresses that are neither the radio nor the controller.
std::array<std::uint8_t, 2> otherPair(std::uint8_t radio, std::uint8_t controller) {
  std::array<std::uint8_t, 2> pair{};
  std::size_t found = 0;
  for (std::uint8_t address : kOtherStations) {
    if (found < pair.size() && address != radio && address != controller) {
      pair[found++] = address;
    }
  }
  return pair;
}

}  // namespace

LineFaults::LineFaults(SimOptions options, Radio radio, Keeper keeper)
    : options_(std::move(options)), radio_(std::move(radio)), keeper_(std::move(keeper)) {}

bool LineFaults::isNth(unsigned every) const {
  return every != 0 && commands_ % every == 0;
}

std::optional<Transmission> LineFaults::receive(std::uint8_t byte) {
  const std::optional<Frame> frame = parser_.feed(byte);
  if (!frame) {
    return std::nullopt;
  }
  Transmission transmission = respond(*frame);
  if (options_.echo) {
    transmission.heard = encodeFrame(frame->destination, frame->source, frame->body);
  }
  return transmission;
}

Transmission LineFaults::respond(const Frame &request) {
  Transmission out;
  if (request.destination != options_.address) {
    out.log =
        "ignored frame to " + hexByte(request.destination) + " from " + hexByte(request.source);
    return out;
  }
  ++commands_;
  if (isNth(options_.silent_every)) {
    out.log = "silent (every " + ordinal(options_.silent_every) + " command)";
    return out;
  }
  const std::string name = toolName(request.body);
  const bool lacking =
      std::find(options_.without.begin(), options_.without.end(), name) != options_.without.end();
  Outcome outcome = lacking ? refusal("this radio has no " + name)
                    : isNth(options_.refuse_every)
                        ? refusal("every " + ordinal(options_.refuse_every) + " command")
                        : handleKept(request.body);
  outcome.reply.resize(outcome.reply.size() + options_.overlong, 0);
  const auto send = [&](const Bytes &frame) {
    if (options_.noise) {
      out.answer.insert(out.answer.end(), kNoise.begin(), kNoise.end());
    }
    out.answer.insert(out.answer.end(), frame.begin(), frame.end());
  };
  if (options_.other_stations) {
    const auto pair = otherPair(options_.address, request.source);
    send(encodeFrame(pair[0], pair[1], kOtherStationBody));
  }
  send(encodeFrame(request.source, options_.address, outcome.reply));
  out.log = std::move(outcome.log);
  return out;
}

Outcome LineFaults::handleKept(const Bytes &body) {
  if (!keeper_) {
    return handle(radio_, body);
  }
  Radio before = radio_;
  Outcome outcome = handle(radio_, body);
  std::string error;
  if (outcome.changed && !keeper_(radio_, error)) {
    radio_ = std::move(before);
    return refusal(error);
  }
  return outcome;
}

}  // namespace radiosim
