// SPDX-License-Identifier: MIT
// Fuzz: rcvresp and every reader's decoding against any radio bytes; sendcmd/rcvresp round trip.
#include <algorithm>
#include <cerrno>
#include <cstdint>

#include "fuzz_line.h"
#include "radioline.h"

namespace {

constexpr int kRadio = 0x20;
constexpr int kController = 0x91;
constexpr int kMaxAddress = 0xFC;
constexpr std::uint8_t kUnwritten = 0xA5;  // fills storage the library must not touch
constexpr std::size_t kGuard = 16;         // bytes checked past the end of a buffer
constexpr std::uint8_t kExtended = 0xAA;
constexpr std::uint8_t kReplyFlag = 0x80;
constexpr std::size_t kHeader = 2;  // AA and the reply subcommand
constexpr long kUnwrittenLong = 0x5A5A5A5A;
// Longest body sent in the round trip. The library writes one byte per
// call and a socket buffer holds only a few hundred such writes, so the
// escaped frame must stay well below that.
constexpr std::size_t kMaxSentBody = 64;

// The fuzz input: an operation selector, a size and the radio's bytes.
struct Input {
  std::uint8_t op;
  std::uint8_t size;
  Bytes line;
};

bool all_unwritten(const std::uint8_t *first, std::size_t count) {
  for (std::size_t i = 0; i < count; i++) {
    if (first[i] != kUnwritten) return false;
  }
  return true;
}

long le32(const Bytes &body, std::size_t at) {
  std::uint32_t bits = 0;
  for (std::size_t i = 4; i-- > 0;) bits = (bits << 8) | body[at + i];
  return static_cast<std::int32_t>(bits);
}

// A caller's buffer of `size` bytes followed by guard bytes.
struct Guarded {
  explicit Guarded(std::size_t size) : size(size), bytes(size + kGuard, kUnwritten) {}
  std::uint8_t *data() { return bytes.data(); }
  bool guard_intact() const { return all_unwritten(bytes.data() + size, kGuard); }

  std::size_t size;
  Bytes bytes;
};

// Successive rcvresp() calls report what the model reports, and store body
// bytes only below their count and never past the buffer.
void receive_frames(const Input &in) {
  FuzzLine line;
  line.send_last(in.line);
  ModelLine model(in.line);
  const int bufsize = in.size % 64;
  for (;;) {
    Guarded resp(static_cast<std::size_t>(bufsize));
    int to = -1;
    int from = -1;
    int resplen = -1;
    const int rc = rcvresp(&to, &from, resp.data(), bufsize, &resplen);
    const ModelFrame want = model.receive(bufsize, -1, -1);
    require(rc == want.rc, "rcvresp result");
    require(to == want.to && from == want.from, "rcvresp addresses");
    require(resplen == (rc == 0 ? static_cast<int>(want.body.size()) : -1), "rcvresp length");
    require(std::equal(want.body.begin(), want.body.end(), resp.bytes.begin()), "rcvresp body");
    require(all_unwritten(resp.data() + want.body.size(), resp.size - want.body.size()),
            "rcvresp stored past the body");
    require(resp.guard_intact(), "rcvresp wrote past bufsize");
    if (rc == EPIPE) return;
  }
}

// A frame that sendcmd() wrote comes back unchanged through rcvresp().
void round_trip(const Input &in) {
  if (in.line.size() < 2) return;
  const int to = in.line[0];
  const int from = in.line[1];
  const std::size_t length = std::min(in.line.size() - 2, kMaxSentBody);
  Bytes body(in.line.begin() + 2, in.line.begin() + 2 + static_cast<long>(length));
  FuzzLine line;
  const int rc = sendcmd(to, from, body.data(), static_cast<int>(body.size()));
  const int error = errno;
  const Bytes sent = line.written();
  if (to > kMaxAddress || from > kMaxAddress) {
    require(rc == EINVAL && error == EINVAL && sent.empty(), "sendcmd refuses a reserved address");
    return;
  }
  require(rc == 0 && sent == wire_frame(to, from, body), "sendcmd frame");

  line.send_last(sent);
  const int bufsize = static_cast<int>(body.size()) + in.size % 4;
  Guarded resp(static_cast<std::size_t>(bufsize));
  int rto = -1;
  int rfrom = -1;
  int resplen = -1;
  require(rcvresp(&rto, &rfrom, resp.data(), bufsize, &resplen) == 0, "rcvresp of a sent frame");
  require(rto == to && rfrom == from, "round-trip addresses");
  require(resplen == static_cast<int>(body.size()), "round-trip length");
  require(std::equal(body.begin(), body.end(), resp.bytes.begin()), "round-trip body");
  require(resp.guard_intact(), "round trip wrote past bufsize");
}

// One reader command against the radio's bytes: what it returns and what
// it stores must match the model's reply, and nothing may be stored on
// failure or past the caller's storage.
struct Reader {
  std::uint8_t subcommand;
  int bufsize;             // the command's reply buffer size
  std::size_t data_bytes;  // data the reply must carry after AA 8x
};

// Result of the exchange per the model: the line's failure, a refusal, or
// 0 with `reply` holding the reply body.
int expected_result(const Reader &reader, const Input &in, ModelFrame *reply) {
  ModelLine model(in.line);
  *reply = model.reply(kRadio, kController, reader.bufsize);
  if (reply->rc != 0) return reply->rc;
  const Bytes &body = reply->body;
  const bool matches = body.size() >= kHeader + reader.data_bytes && body[0] == kExtended &&
                       body[1] == (reader.subcommand | kReplyFlag);
  return matches ? 0 : EINVAL;
}

// The request went out whole, and errno tells a broken frame start (left
// untouched) from the library's own EINVAL (set).
void check_exchange(const Reader &reader, int rc, int error, const ModelFrame &reply,
                    const Bytes &sent) {
  require(sent == wire_frame(kRadio, kController, {kExtended, reader.subcommand}),
          "reader request frame");
  if (rc != EINVAL) return;
  const bool broken_start = reply.rc == EINVAL;
  require(error == (broken_start ? 0 : EINVAL), "errno after EINVAL");
}

template <typename Call>
int run_reader(const Reader &reader, const Input &in, ModelFrame *reply, Call call) {
  FuzzLine line;
  line.send_last(in.line);
  const int want = expected_result(reader, in, reply);
  errno = 0;
  const int rc = call();
  const int error = errno;
  require(rc == want, "reader result");
  check_exchange(reader, rc, error, *reply, line.written());
  return rc;
}

// A byte buffer reader (codeplug, config, version) of `buflen` bytes whose
// successful result is `expected(reply body)`, or a size refusal below `least`.
template <typename Call, typename Expect>
void check_buffer_reader(const Reader &reader, const Input &in, int least, int refusal, Call call,
                         Expect expected) {
  const int buflen = in.size;
  Guarded retbuf(static_cast<std::size_t>(buflen));
  if (buflen < least) {
    FuzzLine line;
    require(call(retbuf.data(), buflen) == refusal, "a short buffer is refused");
    require(line.written().empty() && all_unwritten(retbuf.data(), retbuf.bytes.size()),
            "a short buffer sends and stores nothing");
    return;
  }
  ModelFrame reply;
  const int rc = run_reader(reader, in, &reply, [&] { return call(retbuf.data(), buflen); });
  require(retbuf.guard_intact(), "reader wrote past buflen");
  if (rc != 0) {
    require(all_unwritten(retbuf.data(), retbuf.size), "reader stored on failure");
    return;
  }
  const Bytes want = expected(reply.body, static_cast<std::size_t>(buflen));
  require(std::equal(want.begin(), want.end(), retbuf.bytes.begin()), "reader data");
  require(all_unwritten(retbuf.data() + want.size(), retbuf.size - want.size()),
          "reader stored more than its data");
}

// The first `count` data bytes of a reply.
Bytes data_of(const Bytes &body, std::size_t count) {
  return Bytes(body.begin() + kHeader, body.begin() + static_cast<long>(kHeader + count));
}

// The version text as a zero-padded field of `buflen` bytes.
Bytes version_field(const Bytes &body, std::size_t buflen) {
  const auto text_end = std::find(body.begin() + kHeader, body.end(), 0);
  Bytes field(body.begin() + kHeader, text_end);
  field.resize(buflen, 0);
  return field;
}

void codeplug(const Input &in) {
  check_buffer_reader(
      {0x00, 18, 16}, in, 16, ENOSPC,
      [](std::uint8_t *buf, int len) { return getvfocodeplug(kRadio, kController, buf, len); },
      [](const Bytes &body, std::size_t) { return data_of(body, 16); });
}

void version(const Input &in) {
  check_buffer_reader(
      {0x02, 255, 0}, in, 0, 0,
      [](std::uint8_t *buf, int len) { return getversion(kRadio, kController, buf, len); },
      version_field);
}

void config(const Input &in) {
  check_buffer_reader(
      {0x03, 4, 2}, in, 2, ENOSPC,
      [](std::uint8_t *buf, int len) { return getconfig(kRadio, kController, buf, len); },
      [](const Bytes &body, std::size_t) { return data_of(body, 2); });
}

// Readers of longs: `slots` holds guards around the values they fill.
void tx_offset(const Input &in) {
  long slots[3] = {kUnwrittenLong, kUnwrittenLong, kUnwrittenLong};
  ModelFrame reply;
  const int rc = run_reader({0x05, 6, 4}, in, &reply,
                            [&] { return gettxoffset(kRadio, kController, &slots[1]); });
  require(slots[0] == kUnwrittenLong && slots[2] == kUnwrittenLong, "gettxoffset stored nearby");
  require(slots[1] == (rc == 0 ? le32(reply.body, kHeader) : kUnwrittenLong), "gettxoffset value");
}

void vco_split(const Input &in) {
  long slots[4] = {kUnwrittenLong, kUnwrittenLong, kUnwrittenLong, kUnwrittenLong};
  ModelFrame reply;
  const int rc = run_reader({0x07, 10, 8}, in, &reply, [&] {
    return getvcosplitfreq(kRadio, kController, &slots[1], &slots[2]);
  });
  require(slots[0] == kUnwrittenLong && slots[3] == kUnwrittenLong,
          "getvcosplitfreq stored nearby");
  const bool ok = rc == 0;
  require(slots[1] == (ok ? le32(reply.body, kHeader + 4) : kUnwrittenLong), "tx split value");
  require(slots[2] == (ok ? le32(reply.body, kHeader) : kUnwrittenLong), "rx split value");
}

using Operation = void (*)(const Input &);
constexpr Operation kOperations[] = {receive_frames, round_trip, codeplug, version,
                                     config,         tx_offset,  vco_split};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  if (size < 2) return 0;
  const Input in{data[0], data[1], Bytes(data + 2, data + size)};
  kOperations[in.op % (sizeof kOperations / sizeof kOperations[0])](in);
  return 0;
}
