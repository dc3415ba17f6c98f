// SPDX-License-Identifier: MIT
// Fuzz: radiosim answers every request well-formed and stores exactly what it accepts.
#include <algorithm>
#include <cstdint>
#include <optional>

#include "fuzz_line.h"
#include "radioline.h"
#include "sim.h"

using radiosim::Frame;
using radiosim::Radio;

namespace {

constexpr std::uint8_t kAccepted = radiosim::kStatusAccepted;
constexpr std::uint8_t kRefused = radiosim::kStatusRefused;
constexpr std::uint8_t kExtended = radiosim::kCmdExtended;
constexpr std::size_t kFreqBytes = 5;

// The line behaviours picked by the input's first byte.
radiosim::SimOptions optionsFrom(std::uint8_t bits) {
  radiosim::SimOptions options;
  options.echo = (bits & 0x01) != 0;
  options.other_stations = (bits & 0x02) != 0;
  options.noise = (bits & 0x04) != 0;
  options.refuse_every = (bits >> 3) & 0x03;
  options.overlong = (bits >> 5) & 0x03;
  options.silent_every = (bits & 0x80) != 0 ? 5 : 0;
  return options;
}

// Request body length of each command, and data length of each reader's
// reply; nothing for a body the radio does not know.
struct Shape {
  std::size_t request;
  std::optional<std::size_t> data;  // set for readers
};

std::optional<Shape> shapeOf(const Bytes &body, std::size_t version_length) {
  if (body.empty()) return std::nullopt;
  switch (body[0]) {
    case radiosim::kCmdSetFrequency:
      return Shape{6, {}};
    case radiosim::kCmdSelectMode:
      return Shape{2, {}};
    case radiosim::kCmdStoreMode:
    case radiosim::kCmdRecallMode:
      return Shape{1, {}};
    case radiosim::kCmdSetDuplex:
      return Shape{2, {}};
    case radiosim::kCmdSetTone:
      return Shape{4, {}};
    case kExtended:
      break;
    default:
      return std::nullopt;
  }
  if (body.size() < 2) return std::nullopt;
  switch (body[1]) {
    case radiosim::kSubGetCodeplug:
      return Shape{2, radiosim::kCodeplugLength};
    case radiosim::kSubSetCodeplug:
      return Shape{18, {}};
    case radiosim::kSubGetVersion:
      return Shape{2, version_length};
    case radiosim::kSubGetConfig:
      return Shape{2, 2};
    case radiosim::kSubSetConfig:
      return Shape{4, {}};
    case radiosim::kSubGetOffset:
      return Shape{2, 4};
    case radiosim::kSubSetOffset:
      return Shape{6, {}};
    case radiosim::kSubGetSplit:
      return Shape{2, 8};
    case radiosim::kSubSetSplit:
      return Shape{10, {}};
    default:
      return std::nullopt;
  }
}

// The reply body without the zero bytes that --overlong appends.
Bytes trimmed(const Bytes &reply, unsigned overlong) {
  require(reply.size() >= overlong, "reply shorter than its padding");
  const auto end = reply.end() - overlong;
  require(std::all_of(end, reply.end(), [](std::uint8_t b) { return b == 0; }),
          "padding is zero bytes");
  return Bytes(reply.begin(), end);
}

Bytes le32(std::int32_t value) {
  Bytes out;
  for (unsigned shift = 0; shift < 32; shift += 8) {
    out.push_back(static_cast<std::uint8_t>(static_cast<std::uint32_t>(value) >> shift));
  }
  return out;
}

Bytes bcd(long value, int length, void (*encode)(long, unsigned char *, int)) {
  Bytes out(static_cast<std::size_t>(length));
  encode(value, out.data(), length);
  return out;
}

Bytes tail(const Bytes &body, std::size_t from) {
  return Bytes(body.begin() + static_cast<long>(from), body.end());
}

// After an accepted setter, the radio holds what the request carried: its
// value re-encodes to the request's bytes.
Bytes storedBytes(const Bytes &request, const Radio &radio) {
  const radiosim::Vfo &vfo = radio.vfo;
  switch (request[0]) {
    case radiosim::kCmdSetFrequency:
      return bcd(static_cast<long>(vfo.frequency), kFreqBytes, tobcdrev);
    case radiosim::kCmdSelectMode:
      return bcd(radio.mode, 1, tobcd);
    case radiosim::kCmdSetDuplex:
      return {vfo.duplex};
    case radiosim::kCmdSetTone:
      return bcd(request[1] == 0 ? vfo.tx_tone : vfo.rx_tone, 2, tobcd);
    default:
      break;
  }
  switch (request[1]) {
    case radiosim::kSubSetCodeplug:
      return Bytes(vfo.codeplug.begin(), vfo.codeplug.end());
    case radiosim::kSubSetConfig:
      return Bytes(radio.config.begin(), radio.config.end());
    case radiosim::kSubSetOffset:
      return le32(radio.tx_offset);
    default:
      break;
  }
  Bytes pair = le32(radio.rx_split);
  const Bytes tx = le32(radio.tx_split);
  pair.insert(pair.end(), tx.begin(), tx.end());
  return pair;
}

// Where a setter's value starts in its request: after the command byte, and
// after the subcommand of an extended command; setpl's value follows its
// tx/rx byte.
std::size_t valueOffset(const Bytes &request) {
  if (request[0] == kExtended) return 2;
  return request[0] == radiosim::kCmdSetTone ? 2 : 1;
}

// The data a reader's reply carries, from the radio's state.
Bytes readBytes(const Bytes &request, const Radio &radio) {
  switch (request[1]) {
    case radiosim::kSubGetCodeplug:
      return Bytes(radio.vfo.codeplug.begin(), radio.vfo.codeplug.end());
    case radiosim::kSubGetVersion:
      return Bytes(radio.version.begin(), radio.version.end());
    case radiosim::kSubGetConfig:
      return Bytes(radio.config.begin(), radio.config.end());
    case radiosim::kSubGetOffset:
      return le32(radio.tx_offset);
    default:
      return storedBytes({kExtended, radiosim::kSubSetSplit}, radio);
  }
}

// A status reply: refusals leave the radio alone, acceptances store.
void checkStatus(const Bytes &request, const Bytes &reply, const Radio &before,
                 const Radio &after) {
  require(reply.size() == 1 && (reply[0] == kAccepted || reply[0] == kRefused), "status reply");
  const bool store_or_recall =
      request[0] == radiosim::kCmdStoreMode || request[0] == radiosim::kCmdRecallMode;
  if (reply[0] == kRefused) {
    require(after.vfo == before.vfo && after.config == before.config &&
                after.tx_offset == before.tx_offset && after.rx_split == before.rx_split &&
                after.tx_split == before.tx_split && after.mode == before.mode,
            "a refusal changes nothing");
  } else if (store_or_recall) {
    require(after.slots[after.mode] == after.vfo, "slot and VFO agree after store/recall");
  } else {
    require(storedBytes(request, after) == tail(request, valueOffset(request)),
            "accepted value re-encodes to the request's bytes");
  }
}

Radio fuzzRadio() {
  Radio radio;
  radio.version = "fuzz radio 1.0";
  return radio;
}

// Feeds the simulator and a parser of its own the same bytes and checks
// each transmission against the frame that completed.
class Checker {
 public:
  explicit Checker(std::uint8_t bits)
      : options_(optionsFrom(bits)), simulator_(options_, fuzzRadio()) {}

  void feed(std::uint8_t byte) {
    const std::optional<Frame> request = mirror_.feed(byte);
    const Radio before = simulator_.radio();
    const auto sent = simulator_.receive(byte);
    require(request.has_value() == sent.has_value(), "a transmission per completed frame");
    if (!request) return;
    const Bytes echo =
        options_.echo ? wire_frame(request->destination, request->source, request->body) : Bytes{};
    require(sent->heard == echo, "echo of the frame heard");
    checkAnswer(*request, sent->answer, before);
  }

 private:
  // The answer holds noise, another stations' frame and then the reply.
  void checkAnswer(const Frame &request, const Bytes &answer, const Radio &before) {
    if (request.destination != options_.address) {
      require(answer.empty(), "frames for others are not answered");
      return;
    }
    ++commands_;
    if (nth(options_.silent_every)) {
      require(answer.empty(), "a silent turn sends nothing");
      return;
    }
    radiosim::FrameParser parser;
    std::optional<Frame> reply;
    for (const std::uint8_t b : answer) {
      std::optional<Frame> frame = parser.feed(b);
      if (!frame) continue;
      require(!reply, "only the last frame concerns the controller");
      const bool ours = frame->destination == request.source || frame->source == options_.address;
      if (ours) reply = std::move(frame);
    }
    require(reply && reply->destination == request.source && reply->source == options_.address,
            "the last frame answers the controller");
    checkReply(request.body, trimmed(reply->body, options_.overlong), before);
  }

  void checkReply(const Bytes &request, const Bytes &reply, const Radio &before) {
    const Radio &after = simulator_.radio();
    const auto shape = shapeOf(request, after.version.size());
    if (nth(options_.refuse_every) || !shape || request.size() != shape->request) {
      require(reply == Bytes{kRefused}, "refused or unknown request gets FA");
      return;
    }
    if (!shape->data) {
      checkStatus(request, reply, before, after);
      return;
    }
    require(reply.size() == 2 + *shape->data && reply[0] == kExtended &&
                reply[1] == (request[1] | radiosim::kSubReplyFlag),
            "data reply form and length");
    require(tail(reply, 2) == readBytes(request, after), "data reply carries the state");
  }

  bool nth(unsigned every) const { return every != 0 && commands_ % every == 0; }

  radiosim::SimOptions options_;
  radiosim::Simulator simulator_;
  radiosim::FrameParser mirror_;
  unsigned commands_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  if (size == 0) return 0;
  Checker checker(data[0]);
  for (std::size_t i = 1; i < size; i++) checker.feed(data[i]);
  return 0;
}
