// SPDX-License-Identifier: MIT
// The radio commands. In order: the command exchange that every radio
// command runs (clear a late answer to an abandoned request off the line,
// send the request, skip frames that do not concern it, judge the reply in
// its form) with the one piece of state it keeps, the line's mark of an
// abandoned reply; the reply decoders; the command table; and the fifteen
// commands, each a few lines that check its own arguments, build its body
// and hand its row to the exchange, on a handle's line with that line's
// lock held for the whole exchange; each classic command is its handle
// namesake on the default line. Frames go out and come in through
// sendcmd() and rcvresp() in frame.cpp; the line is cleared through io.cpp's
// discardUntilQuiet(); BCD comes from bcd.cpp. Request and reply buffers
// are fixed-size locals: nothing here allocates, and nothing survives a call
// but what a reader copies out and the line's mark.
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>

#include "internal.h"

using namespace radioline;

namespace {

// Command bytes: the first byte of every request body.
constexpr unsigned char kCmdSetVfoFreq = 0x05;                  // tune the VFO (BCD frequency)
constexpr unsigned char kCmdSetMode = 0x08;                     // select a mode slot (BCD)
constexpr unsigned char kCmdStoreVfoToMode = 0x09;              // VFO into current mode slot
constexpr unsigned char kCmdStoreModeToVfo = 0x0A;              // current mode slot into VFO
constexpr unsigned char kCmdSetDuplex = 0x0F;                   // duplex code, one raw byte
constexpr unsigned char kCmdSetPl = 0x1B;                       // PL tone: tx/rx byte, BCD tone
constexpr unsigned char kCmdExtended = RADIOLINE_CMD_EXTENDED;  // a subcommand byte follows

// Subcommands of kCmdExtended; a data reply carries its subcommand | kSubReply.
constexpr unsigned char kSubGetVfoCodeplug = 0x00;                  // read the 16-byte codeplug
constexpr unsigned char kSubSetVfoCodeplug = 0x01;                  // write the 16-byte codeplug
constexpr unsigned char kSubGetVersion = RADIOLINE_SUB_GETVERSION;  // the firmware text
constexpr unsigned char kSubGetConfig = 0x03;                       // read two config bytes
constexpr unsigned char kSubSetConfig = 0x04;                       // write two config bytes
constexpr unsigned char kSubGetTxOffset = 0x05;                     // read the transmit offset
constexpr unsigned char kSubSetTxOffset = 0x06;                     // write the transmit offset
constexpr unsigned char kSubGetVcoSplit = 0x07;                     // read the rx/tx split pair
constexpr unsigned char kSubSetVcoSplit = 0x08;                     // write the rx/tx split pair
constexpr unsigned char kSubReply = 0x80;                           // top bit: the radio's answer

// Reply status bytes.
constexpr unsigned char kStatusOk = 0xFB;  // the radio accepted the command

// Bus address that nobody answers from: a broadcast.
constexpr int kBroadcast = 0;

// Field sizes of request and reply data.
constexpr int kFreqBytes = 5;                // ten BCD digits of a frequency
constexpr int kModeBytes = 1;                // two BCD digits of a mode slot
constexpr int kDuplexBytes = 1;              // the duplex code's low byte
constexpr int kToneBytes = 2;                // four BCD digits of a PL tone in tenths
constexpr int kPlBytes = 1 + kToneBytes;     // tx/rx selector byte, then the tone
constexpr int kPlugBytes = 16;               // the VFO codeplug
constexpr int kConfigBytes = 2;              // data0, data1
constexpr int kLe32Bytes = 4;                // a signed 32-bit little-endian integer
constexpr int kSplitBytes = 2 * kLe32Bytes;  // rx split, then tx split

// Request body buffer: command, subcommand and the 16 codeplug bytes.
constexpr int kRequestBufferSize = 2 + kPlugBytes;
// Reply body buffer: the largest bufsize (getversion's 255) and one zero byte
// that rcvresp never reaches, so the version text always ends in a zero.
constexpr int kReplyBufferSize = 256;
// Command and subcommand bytes in front of a data-form reply's data.
constexpr int kDataReplyHeader = 2;

constexpr int kBitsPerByte = 8;
constexpr float kTenthsPerHertz = 10;  // a PL tone travels in tenths
constexpr unsigned kLowByte = 0xFF;    // what a byte of a wider value keeps

// How the command exchange judges the reply that concerns it.
enum class ReplyForm {
  kStatus,  // the first body byte is a status; only FB accepts
  kData,    // the command byte, the subcommand with its top bit set, data
};

// Whether the exchange traces "<name>: calling sendcmd"; storemodetovfo's
// trace has always gone without that one line.
enum class SendTrace { kAnnounced, kUnannounced };

// Turns the data of an accepted data-form reply (the body after its command
// and subcommand bytes, `length` of them) into the caller's storage at `out`,
// tracing it on `line`. Returns 0, or EINVAL (errno set) when the data is
// too short; it writes to `out` only when it returns 0.
using Decoder = int (*)(const Line &line, const unsigned char *data, int length, void *out);

// Everything that sets one radio command apart: one row of kCommands. The
// request body is the command byte, the subcommand when there is one, then
// `data_length` bytes that the command fills.
struct CommandRow {
  const char *name;                         // trace prefix and perror name
  unsigned char command;                    // first body byte
  std::optional<unsigned char> subcommand;  // second body byte, if any
  int data_length;                          // request bytes after those
  int bufsize;                              // reply body bytes to store
  ReplyForm form;                           // how the reply is judged
  Decoder decode;                           // data form only, else nullptr
  SendTrace send_trace;                     // the "calling sendcmd" line
};

// ---------------------------------------------------------------------------
// The command exchange: one routine that every radio command runs.
// ---------------------------------------------------------------------------

// A request body laid out by its row: the command byte, the row's
// subcommand when it has one, then data_length zero bytes that the command
// fills through data().
struct Request {
  explicit Request(const CommandRow &command) : row(command) {
    outbuf[cmdlen++] = row.command;
    if (row.subcommand) outbuf[cmdlen++] = *row.subcommand;
    header_length = cmdlen;
    cmdlen += row.data_length;
  }
  unsigned char *data() { return outbuf + header_length; }

  const CommandRow &row;
  unsigned char outbuf[kRequestBufferSize] = {};
  int header_length = 0;
  int cmdlen = 0;
};

// When a reply was abandoned on the line (a wait that failed, a reply
// judged wrong): drops what arrives on it until it falls quiet, so that the
// late answer is not taken for the answer to the next request. Returns at
// once otherwise; errno is left as it was.
void discardAbandonedReply(Line &line) {
  if (!line.reply_abandoned) return;
  discardUntilQuiet(line);
  line.reply_abandoned = false;
}

// Status form: the first body byte must be the status FB.
int judgeStatus(const Line &line, const CommandRow &row, const unsigned char *inbuf, int resplen) {
  trace(line, "%s: found our message; status %02x\n", row.name, inbuf[0]);
  if (resplen < 1 || inbuf[0] != kStatusOk) return failWith(EINVAL);
  return 0;
}

// Data form: the body must echo the command and the subcommand with its top
// bit set; the row's decoder then takes the data that follows.
int judgeData(const Line &line, const CommandRow &row, const unsigned char *inbuf, int resplen,
              void *out) {
  trace(line, "%s: found our message; command %02x subcommand %02x\n", row.name, inbuf[0],
        inbuf[1]);
  const auto expected = static_cast<unsigned char>(*row.subcommand | kSubReply);
  if (resplen < kDataReplyHeader || inbuf[0] != row.command || inbuf[1] != expected) {
    return failWith(EINVAL);
  }
  return row.decode(line, inbuf + kDataReplyHeader, resplen - kDataReplyHeader, out);
}

// Sends the request, waits for the first frame sent by `to` to `from`
// (skipping the echo of the request, frames between other stations, the
// radio's frames to other controllers and other stations' frames to us),
// and judges it in the row's form. A broadcast (an address 0) reads no
// reply: a status-form command has then succeeded, a data-form one has
// nothing to decode. A wait that failed and a reply judged wrong both
// abandon the exchange: the next one clears the line before it sends.
int exchange(Line &line, int to, int from, Request &request, void *out) {
  const CommandRow &row = request.row;
  int rto = 0;
  int rfrom = 0;
  discardAbandonedReply(line);  // a late answer to an earlier request is no reply
  if (row.send_trace == SendTrace::kAnnounced) {
    trace(line, "%s: calling sendcmd\n", row.name);
  }
  int rc = sendcmd(line, to, from, request.outbuf, request.cmdlen);
  trace(line, "%s: sendcmd returned %d\n", row.name, rc);
  if (rc != 0) {
    tracePerror(line, row.name, rc);  // errno stays as the failure left it
    return rc;
  }
  if (to == kBroadcast || from == kBroadcast) {
    return row.form == ReplyForm::kStatus ? 0 : failWith(EINVAL);
  }

  unsigned char inbuf[kReplyBufferSize] = {};
  int resplen = 0;
  while (rto != from || rfrom != to) {
    trace(line, "%s: eating messages to/from other ids\n", row.name);
    rc = rcvresp(line, &rto, &rfrom, inbuf, row.bufsize, &resplen);
    trace(line, "%s: rcvresp returned to %02x from %02x rc %d\n", row.name, rto, rfrom, rc);
    if (rc != 0) {
      tracePerror(line, row.name, rc);  // errno stays as the failure left it
      // The radio may still answer after a wait that failed (a time-out, a
      // broken start, a signal); that answer must not answer the next request.
      line.reply_abandoned = true;
      return rc;
    }
  }
  rc = row.form == ReplyForm::kStatus ? judgeStatus(line, row, inbuf, resplen)
                                      : judgeData(line, row, inbuf, resplen, out);
  // A reply judged wrong may be an earlier request's late answer, with this
  // request's own answer still on its way: it must not answer the next one.
  if (rc != 0) line.reply_abandoned = true;
  return rc;
}

// ---------------------------------------------------------------------------
// Value layouts and reply decoders.
// ---------------------------------------------------------------------------

// The low 32 bits of `value`, two's complement: what goes on the wire.
std::int32_t low32(long value) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
}

// Writes the low 32 bits of `value` at out[0..3], least significant first.
void putLe32(long value, unsigned char *out) {
  auto bits = static_cast<std::uint32_t>(value);
  for (int i = 0; i < kLe32Bytes; i++) {
    out[i] = static_cast<unsigned char>(bits & kLowByte);
    bits >>= kBitsPerByte;
  }
}

// The signed 32-bit integer at in[0..3], least significant byte first.
long getLe32(const unsigned char *in) {
  std::uint32_t bits = 0;
  for (int i = kLe32Bytes - 1; i >= 0; i--) bits = (bits << kBitsPerByte) | in[i];
  return static_cast<std::int32_t>(bits);
}

// Where getversion() puts the text: a field of `buflen` bytes.
struct VersionField {
  unsigned char *retbuf;
  int buflen;
};

// Where getvcosplitfreq() puts the pair.
struct SplitPair {
  long *txsplit;
  long *rxsplit;
};

// Accepts `size` bytes of reply data, traced under `label`: 0, or EINVAL
// (errno set) when fewer than `size` bytes arrived.
int acceptData(const Line &line, const char *label, const unsigned char *data, int length,
               int size) {
  if (length < size) return failWith(EINVAL);
  traceBytes(line, label, data, size);
  return 0;
}

// getvfocodeplug: 16 codeplug bytes into an unsigned char[16].
int decodeCodeplug(const Line &line, const unsigned char *data, int length, void *out) {
  const int rc = acceptData(line, "getvfocodeplug: plugdata ", data, length, kPlugBytes);
  if (rc == 0) std::memcpy(out, data, kPlugBytes);
  return rc;
}

// getversion: the text up to its first zero byte or the end of the data,
// into a VersionField, zero-padded, without a terminator when it fills it.
int decodeVersion(const Line &line, const unsigned char *data, int length, void *out) {
  const auto *field = static_cast<VersionField *>(out);
  const void *zero = std::memchr(data, 0, static_cast<size_t>(length));
  const int textlen =
      zero ? static_cast<int>(static_cast<const unsigned char *>(zero) - data) : length;
  traceBytes(line, "getversion: data ", data, textlen);
  const int copied = textlen < field->buflen ? textlen : field->buflen;
  std::memcpy(field->retbuf, data, static_cast<size_t>(copied));
  std::memset(field->retbuf + copied, 0, static_cast<size_t>(field->buflen - copied));
  return 0;
}

// getconfig: data0 and data1 into an unsigned char[2].
int decodeConfig(const Line &line, const unsigned char *data, int length, void *out) {
  const int rc = acceptData(line, "getconfig: data ", data, length, kConfigBytes);
  if (rc == 0) std::memcpy(out, data, kConfigBytes);
  return rc;
}

// gettxoffset: one signed 32-bit little-endian integer into a long.
int decodeOffset(const Line &line, const unsigned char *data, int length, void *out) {
  const int rc = acceptData(line, "gettxoffset: data ", data, length, kLe32Bytes);
  if (rc == 0) *static_cast<long *>(out) = getLe32(data);
  return rc;
}

// getvcosplitfreq: the rx split, then the tx split, into a SplitPair.
int decodeSplit(const Line &line, const unsigned char *data, int length, void *out) {
  const int rc = acceptData(line, "getvcosplit: data ", data, length, kSplitBytes);
  if (rc != 0) return rc;
  const auto *pair = static_cast<SplitPair *>(out);
  *pair->rxsplit = getLe32(data);
  *pair->txsplit = getLe32(data + kLe32Bytes);
  return 0;
}

// ---------------------------------------------------------------------------
// The command table: one row per radio command.
// ---------------------------------------------------------------------------

// Row indices of kCommands, in table order.
enum Row : std::size_t {
  kSetVfoFreq,
  kSetMode,
  kStoreVfoToMode,
  kStoreModeToVfo,
  kSetDuplex,
  kSetPl,
  kGetVfoCodeplug,
  kSetVfoCodeplug,
  kGetVersion,
  kGetConfig,
  kSetConfig,
  kGetTxOffset,
  kSetTxOffset,
  kGetVcoSplitFreq,
  kSetVcoSplit,
  kRowCount
};

constexpr auto kNoSub = std::nullopt;
constexpr auto kStatus = ReplyForm::kStatus;
constexpr auto kData = ReplyForm::kData;
constexpr auto kAnnounced = SendTrace::kAnnounced;
constexpr auto kUnannounced = SendTrace::kUnannounced;  // storemodetovfo's quirk

// Why each reply bufsize is what it is. rcvresp stores at most that many body
// bytes and traces each one, so a size is part of what a command writes and
// stays as it is even where fewer bytes would do; the tail of a longer frame
// is left to the next hunt.
//   Readers store exactly their reply: AA, the reply subcommand and the data.
//     18 = 2 + 16 codeplug bytes; 4 = 2 + data0, data1; 6 = 2 + a 32-bit
//     offset; 10 = 2 + two 32-bit splits; 255 = 2 + at most 253 version
//     bytes, one short of the reply buffer so the text always ends in a zero.
//   A status needs one byte. Setters with data store as many bytes as their
//     own request body (6, 2, 2, 4, 18, 4, 6: command, subcommand, data), the
//     length of its echo; the one-byte requests store 2, and so does
//     setvcosplit, whose 10-byte echo leaves its tail to the next hunt.
// clang-format off
// Columns: trace prefix, command byte, subcommand, request data length,
// reply bufsize, reply form, decoder, whether "calling sendcmd" is traced.
constexpr std::array<CommandRow, kRowCount> kCommands{{
  {"setvfofreq",     kCmdSetVfoFreq,     kNoSub,             kFreqBytes,   6,   kStatus, nullptr,         kAnnounced},
  {"setmode",        kCmdSetMode,        kNoSub,             kModeBytes,   2,   kStatus, nullptr,         kAnnounced},
  {"storevfotomode", kCmdStoreVfoToMode, kNoSub,             0,            2,   kStatus, nullptr,         kAnnounced},
  {"storemodetovfo", kCmdStoreModeToVfo, kNoSub,             0,            2,   kStatus, nullptr,         kUnannounced},
  {"setduplex",      kCmdSetDuplex,      kNoSub,             kDuplexBytes, 2,   kStatus, nullptr,         kAnnounced},
  {"setpl",          kCmdSetPl,          kNoSub,             kPlBytes,     4,   kStatus, nullptr,         kAnnounced},
  {"getvfocodeplug", kCmdExtended,       kSubGetVfoCodeplug, 0,            18,  kData,   decodeCodeplug, kAnnounced},
  {"setvfocodeplug", kCmdExtended,       kSubSetVfoCodeplug, kPlugBytes,   18,  kStatus, nullptr,         kAnnounced},
  {"getversion",     kCmdExtended,       kSubGetVersion,     0,            255, kData,   decodeVersion,  kAnnounced},
  {"getconfig",      kCmdExtended,       kSubGetConfig,      0,            4,   kData,   decodeConfig,   kAnnounced},
  {"setconfig",      kCmdExtended,       kSubSetConfig,      kConfigBytes, 4,   kStatus, nullptr,         kAnnounced},
  {"gettxoffset",    kCmdExtended,       kSubGetTxOffset,    0,            6,   kData,   decodeOffset,   kAnnounced},
  {"settxoffset",    kCmdExtended,       kSubSetTxOffset,    kLe32Bytes,   6,   kStatus, nullptr,         kAnnounced},
  {"getvcosplit",    kCmdExtended,       kSubGetVcoSplit,    0,            10,  kData,   decodeSplit,    kAnnounced},
  {"setvcosplit",    kCmdExtended,       kSubSetVcoSplit,    kSplitBytes,  2,   kStatus, nullptr,         kAnnounced},
}};
// clang-format on
static_assert(kCommands.size() == 15, "fifteen radio commands");

// A row the exchange can run: its request fits the request buffer, its
// reply leaves the reply buffer's last zero byte alone, and a data-form row
// has the subcommand and decoder that its judging and decoding need.
constexpr bool rowIsSound(const CommandRow &row) {
  const int header = row.subcommand ? 2 : 1;
  const bool data_form = row.form == ReplyForm::kData;
  return header + row.data_length <= kRequestBufferSize && row.bufsize >= kDataReplyHeader &&
         row.bufsize < kReplyBufferSize && (row.decode != nullptr) == data_form &&
         (!data_form || row.subcommand.has_value());
}

constexpr bool tableIsSound() {
  for (const CommandRow &row : kCommands) {
    if (!rowIsSound(row)) return false;
  }
  return true;
}
static_assert(tableIsSound(), "every row fits the exchange's buffers");

}  // namespace

// ---------------------------------------------------------------------------
// The fifteen radio commands, each holding its line's lock for its whole
// exchange, and their classic namesakes on the default line.
// ---------------------------------------------------------------------------

int rl_setvfofreq(radioline_line *line, int to, int from, long freq) {
  return onLine(line, [&](Line &held) {
    trace(held, "setvfofreq: setting freq %ld\n", freq);
    if (freq < 0) return failWith(EINVAL);
    Request request(kCommands[kSetVfoFreq]);
    tobcdrev(freq, request.data(), kFreqBytes);
    traceBytes(held, "setvfofreq: bcd ", request.outbuf, request.cmdlen);
    return exchange(held, to, from, request, nullptr);
  });
}

int rl_setmode(radioline_line *line, int to, int from, long mode) {
  return onLine(line, [&](Line &held) {
    trace(held, "setmode: selecting mode %ld\n", mode);
    if (mode < 0) return failWith(EINVAL);
    Request request(kCommands[kSetMode]);
    tobcd(held, mode, request.data(), kModeBytes);
    traceBytes(held, "setmode: bcd ", request.outbuf, request.cmdlen);
    return exchange(held, to, from, request, nullptr);
  });
}

int rl_storevfotomode(radioline_line *line, int to, int from) {
  return onLine(line, [&](Line &held) {
    trace(held, "storevfotomode: entering\n");
    Request request(kCommands[kStoreVfoToMode]);
    return exchange(held, to, from, request, nullptr);
  });
}

int rl_storemodetovfo(radioline_line *line, int to, int from) {
  return onLine(line, [&](Line &held) {
    trace(held, "storemodetovfo: entering\n");
    Request request(kCommands[kStoreModeToVfo]);
    return exchange(held, to, from, request, nullptr);
  });
}

int rl_setduplex(radioline_line *line, int to, int from, long duplex) {
  return onLine(line, [&](Line &held) {
    trace(held, "setduplex: setting duplex to %02lx\n", duplex);
    Request request(kCommands[kSetDuplex]);
    request.data()[0] = static_cast<unsigned char>(duplex);
    traceBytes(held, "setduplex: bcd ", request.outbuf, request.cmdlen);
    return exchange(held, to, from, request, nullptr);
  });
}

int rl_setpl(radioline_line *line, int to, int from, long pl, int txrx) {
  return onLine(line, [&](Line &held) {
    trace(held, "setpl: setting %s pl to %5.1f\n", txrx ? "rx" : "tx",
          static_cast<double>(static_cast<float>(pl) / kTenthsPerHertz));
    if (pl < 0) return failWith(EINVAL);
    Request request(kCommands[kSetPl]);
    request.data()[0] = static_cast<unsigned char>(txrx);
    tobcd(held, pl, request.data() + 1, kToneBytes);
    traceBytes(held, "setpl: bcd ", request.outbuf, request.cmdlen);
    return exchange(held, to, from, request, nullptr);
  });
}

int rl_getvfocodeplug(radioline_line *line, int to, int from, unsigned char *retbuf, int buflen) {
  return onLine(line, [&](Line &held) {
    trace(held, "getvfocodeplug: entering\n");
    if (buflen < kPlugBytes) return ENOSPC;  // errno untouched, as it has been
    if (retbuf == nullptr) return failWith(EINVAL);
    trace(held, "getvfocodeplug: adequate buffer space is available\n");
    Request request(kCommands[kGetVfoCodeplug]);
    return exchange(held, to, from, request, retbuf);
  });
}

int rl_setvfocodeplug(radioline_line *line, int to, int from, char *plug) {
  return onLine(line, [&](Line &held) {
    if (plug == nullptr) return failWith(EINVAL);
    trace(held, "setvfocodeplug: plug to send [%s]\n", plug);
    unsigned hexbuf[kPlugBytes] = {};
    const int got = std::sscanf(plug, "%x %x %x %x %x %x %x %x %x %x %x %x %x %x %x %x", &hexbuf[0],
                                &hexbuf[1], &hexbuf[2], &hexbuf[3], &hexbuf[4], &hexbuf[5],
                                &hexbuf[6], &hexbuf[7], &hexbuf[8], &hexbuf[9], &hexbuf[10],
                                &hexbuf[11], &hexbuf[12], &hexbuf[13], &hexbuf[14], &hexbuf[15]);
    if (got != kPlugBytes) {
      trace(held, "setvfocodeplug: only got %d of 16 plug bytes\n", got);
      return failWith(EINVAL);
    }
    Request request(kCommands[kSetVfoCodeplug]);
    for (int i = 0; i < kPlugBytes; i++) {
      request.data()[i] = static_cast<unsigned char>(hexbuf[i] & kLowByte);
    }
    traceBytes(held, "setvfocodeplug: parsed plug ", request.data(), kPlugBytes);
    return exchange(held, to, from, request, nullptr);
  });
}

int rl_getversion(radioline_line *line, int to, int from, unsigned char *retbuf, int buflen) {
  return onLine(line, [&](Line &held) {
    trace(held, "getversion: entering\n");
    if (retbuf == nullptr || buflen < 0) return failWith(EINVAL);
    VersionField field{retbuf, buflen};
    Request request(kCommands[kGetVersion]);
    return exchange(held, to, from, request, &field);
  });
}

int rl_getconfig(radioline_line *line, int to, int from, unsigned char *retbuf, int buflen) {
  return onLine(line, [&](Line &held) {
    trace(held, "getconfig: entering\n");
    if (buflen < kConfigBytes) return failWith(ENOSPC);
    if (retbuf == nullptr) return failWith(EINVAL);
    trace(held, "getconfig: adequate buffer space is available\n");
    Request request(kCommands[kGetConfig]);
    return exchange(held, to, from, request, retbuf);
  });
}

int rl_setconfig(radioline_line *line, int to, int from, unsigned char data0, unsigned char data1) {
  return onLine(line, [&](Line &held) {
    trace(held, "setconfig: config data0 %02x data1 %02x\n", data0, data1);
    Request request(kCommands[kSetConfig]);
    request.data()[0] = data0;
    request.data()[1] = data1;
    return exchange(held, to, from, request, nullptr);
  });
}

int rl_gettxoffset(radioline_line *line, int to, int from, long *offset) {
  return onLine(line, [&](Line &held) {
    trace(held, "gettxoffset: entering\n");
    if (offset == nullptr) return failWith(EINVAL);
    Request request(kCommands[kGetTxOffset]);
    return exchange(held, to, from, request, offset);
  });
}

int rl_settxoffset(radioline_line *line, int to, int from, long offset) {
  return onLine(line, [&](Line &held) {
    trace(held, "settxoffset: offset %d\n", low32(offset));
    Request request(kCommands[kSetTxOffset]);
    putLe32(offset, request.data());
    return exchange(held, to, from, request, nullptr);
  });
}

int rl_getvcosplitfreq(radioline_line *line, int to, int from, long *txsplit, long *rxsplit) {
  return onLine(line, [&](Line &held) {
    trace(held, "getvcosplit: entering\n");
    if (txsplit == nullptr || rxsplit == nullptr) return failWith(EINVAL);
    SplitPair pair{txsplit, rxsplit};
    Request request(kCommands[kGetVcoSplitFreq]);
    return exchange(held, to, from, request, &pair);
  });
}

int rl_setvcosplit(radioline_line *line, int to, int from, long txvcosplit, long rxvcosplit) {
  return onLine(line, [&](Line &held) {
    trace(held, "setvcosplit: txsplit %d rxsplit %d\n", low32(txvcosplit), low32(rxvcosplit));
    Request request(kCommands[kSetVcoSplit]);
    putLe32(rxvcosplit, request.data());
    putLe32(txvcosplit, request.data() + kLe32Bytes);
    return exchange(held, to, from, request, nullptr);
  });
}

int setvfofreq(int to, int from, long freq) {
  return rl_setvfofreq(&defaultLine(), to, from, freq);
}

int setmode(int to, int from, long mode) {
  return rl_setmode(&defaultLine(), to, from, mode);
}

int storevfotomode(int to, int from) {
  return rl_storevfotomode(&defaultLine(), to, from);
}

int storemodetovfo(int to, int from) {
  return rl_storemodetovfo(&defaultLine(), to, from);
}

int setduplex(int to, int from, long duplex) {
  return rl_setduplex(&defaultLine(), to, from, duplex);
}

int setpl(int to, int from, long pl, int txrx) {
  return rl_setpl(&defaultLine(), to, from, pl, txrx);
}

int getvfocodeplug(int to, int from, unsigned char *retbuf, int buflen) {
  return rl_getvfocodeplug(&defaultLine(), to, from, retbuf, buflen);
}

int setvfocodeplug(int to, int from, char *plug) {
  return rl_setvfocodeplug(&defaultLine(), to, from, plug);
}

int getversion(int to, int from, unsigned char *retbuf, int buflen) {
  return rl_getversion(&defaultLine(), to, from, retbuf, buflen);
}

int getconfig(int to, int from, unsigned char *retbuf, int buflen) {
  return rl_getconfig(&defaultLine(), to, from, retbuf, buflen);
}

int setconfig(int to, int from, unsigned char data0, unsigned char data1) {
  return rl_setconfig(&defaultLine(), to, from, data0, data1);
}

int gettxoffset(int to, int from, long *offset) {
  return rl_gettxoffset(&defaultLine(), to, from, offset);
}

int settxoffset(int to, int from, long offset) {
  return rl_settxoffset(&defaultLine(), to, from, offset);
}

int getvcosplitfreq(int to, int from, long *txsplit, long *rxsplit) {
  return rl_getvcosplitfreq(&defaultLine(), to, from, txsplit, rxsplit);
}

int setvcosplit(int to, int from, long txvcosplit, long rxvcosplit) {
  return rl_setvcosplit(&defaultLine(), to, from, txvcosplit, rxvcosplit);
}
