// SPDX-License-Identifier: MIT
// Fuzz: the library against radiosim's own decoder and encoder, on any radio state, line faults
// and codeplug text.
#include <fuzzer/FuzzedDataProvider.h>

#include <cerrno>
#include <cstring>
#include <optional>

#include "fuzz_line.h"
#include "line_faults.h"
#include "state_file.h"

namespace {

using namespace radiosim;

SimOptions optionsFrom(std::uint8_t bits) {
  SimOptions options;
  options.echo = (bits & 0x01) != 0;
  options.other_stations = (bits & 0x02) != 0;
  options.noise = (bits & 0x04) != 0;
  options.refuse_every = (bits >> 3) & 0x01;
  options.silent_every = (bits >> 4) & 0x01;
  options.overlong = (bits >> 5) & 0x03;
  return options;
}

// Everything the radio sends for the one frame `wire` holds, which ends it.
Bytes answerTo(LineFaults &radio, const Bytes &wire) {
  std::optional<Transmission> sent;
  for (const std::uint8_t byte : wire) sent = radio.receive(byte);
  require(sent.has_value(), "radiosim takes the request's frame");
  Bytes all = sent->heard;
  all.insert(all.end(), sent->answer.begin(), sent->answer.end());
  return all;
}

// A golden reader against a radio holding state from the input, behind
// line faults: the request goes out as radiosim encodes it, and the reader
// decodes exactly the radio's state, or stores nothing when refused.
void reader(FuzzedDataProvider &in) {
  const Golden &row = kGolden[10 + in.ConsumeIntegralInRange(0, 4)];
  const SimOptions options = optionsFrom(in.ConsumeIntegral<std::uint8_t>());
  Radio state;
  for (auto &byte : state.vfo.codeplug) byte = in.ConsumeIntegral<std::uint8_t>();
  state.config = {in.ConsumeIntegral<std::uint8_t>(), in.ConsumeIntegral<std::uint8_t>()};
  state.tx_offset = in.ConsumeIntegral<std::int32_t>();
  state.rx_split = in.ConsumeIntegral<std::int32_t>();
  state.tx_split = in.ConsumeIntegral<std::int32_t>();
  state.version = in.ConsumeBytesAsString(40);
  LineFaults radio(options, state);
  const Bytes request = encodeFrame(kRadio, kController, hex(row.request));
  FuzzLine line;
  line.sendLast(answerTo(radio, request));
  Storage storage;
  const int rc = row.call(kRadio, kController, storage);
  require(line.written() == request, "reader request");
  if (options.silent_every == 1 || options.refuse_every == 1) {
    require(rc == (options.silent_every == 1 ? EPIPE : EINVAL) && storage == Storage(),
            "an unanswered or refused reader stores nothing");
    return;
  }
  const std::string text = state.version.substr(0, strnlen(state.version.c_str(), 32));
  const std::string want[] = {
      hexOf(Bytes(state.vfo.codeplug.begin(), state.vfo.codeplug.end())), text,
      hexOf(Bytes(state.config.begin(), state.config.end())), std::to_string(state.tx_offset),
      "tx " + std::to_string(state.tx_split) + " rx " + std::to_string(state.rx_split)};
  require(rc == 0 && decodedText(row, storage) == want[&row - &kGolden[10]], "reader decodes");
}

// A setter's request, decoded by radiosim, leaves the radio holding the value.
void setter(FuzzedDataProvider &in) {
  const int which = in.ConsumeIntegralInRange(0, 5);
  const auto a = in.ConsumeIntegral<std::uint64_t>(), b = in.ConsumeIntegral<std::uint64_t>();
  const long freq = static_cast<long>(a % 10000000000), tone = static_cast<long>(a % 10000);
  const Bytes accepted = encodeFrame(kController, kRadio, {kStatusAccepted});
  FuzzLine line;
  line.sendLast(accepted);
  const int rc = which == 0   ? setvfofreq(kRadio, kController, freq)
                 : which == 1 ? setmode(kRadio, kController, static_cast<long>(a % 100))
                 : which == 2 ? setduplex(kRadio, kController, static_cast<long>(a & 0xFF))
                 : which == 3 ? setpl(kRadio, kController, tone, static_cast<int>(b & 1))
                 : which == 4
                     ? settxoffset(kRadio, kController, static_cast<long>(a))
                     : setvcosplit(kRadio, kController, static_cast<long>(a), static_cast<long>(b));
  require(rc == 0, "setter accepted");
  LineFaults radio({}, Radio{});
  require(answerTo(radio, line.written()) == accepted, "radiosim accepts the setter's request");
  const Radio &got = radio.radio();
  const bool held[] = {
      got.vfo.frequency == static_cast<std::uint64_t>(freq),
      got.mode == a % 100,
      got.vfo.duplex == (a & 0xFF),
      ((b & 1) != 0 ? got.vfo.rx_tone : got.vfo.tx_tone) == tone,
      got.tx_offset == static_cast<std::int32_t>(a),
      got.tx_split == static_cast<std::int32_t>(a) && got.rx_split == static_cast<std::int32_t>(b)};
  require(held[which], "radiosim holds the value the setter sent");
}

// Any text as a codeplug: refused with nothing sent, or sent as a frame that radiosim takes.
void codeplug(FuzzedDataProvider &in) {
  std::string text = in.ConsumeRemainingBytesAsString();
  const Bytes accepted = encodeFrame(kController, kRadio, {kStatusAccepted});
  FuzzLine line;
  line.sendLast(accepted);
  errno = 0;
  const int rc = setvfocodeplug(kRadio, kController, text.data());
  if (rc != 0) {
    require(rc == EINVAL && errno == EINVAL && line.written().empty(),
            "a refused text sends nothing");
    return;
  }
  LineFaults radio({}, Radio{});
  require(answerTo(radio, line.written()) == accepted, "radiosim takes the sixteen bytes sent");
}

// Any bytes to radiosim: each answer reads, through the library, as frames
// ending in the radio's reply to the controller, and a refusal changes nothing.
void anything(FuzzedDataProvider &in) {
  const SimOptions options = optionsFrom(in.ConsumeIntegral<std::uint8_t>());
  LineFaults radio(options, Radio{});
  for (const std::uint8_t byte : in.ConsumeRemainingBytes<std::uint8_t>()) {
    const Radio before = radio.radio();
    const auto sent = radio.receive(byte);
    if (!sent || sent->answer.empty()) continue;
    FuzzLine line;
    line.sendLast(sent->answer);
    int to = -1, from = -1, length = 0, rc = 0;
    std::uint8_t body[80];
    while ((rc = rcvresp(&to, &from, body, sizeof body, &length)) == 0 && from != options.address) {
    }
    require(rc == 0 && length > 0 && (body[0] == 0xFA || body[0] == 0xFB || body[0] == 0xAA),
            "the radio's reply ends its answer");
    require(body[0] != 0xFA || formatState(radio.radio()) == formatState(before),
            "a refusal changes nothing");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  void (*const kinds[])(FuzzedDataProvider &) = {reader, setter, codeplug, anything};
  kinds[in.ConsumeIntegralInRange(0, 3)](in);
  return 0;
}
