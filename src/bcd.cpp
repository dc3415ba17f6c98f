// SPDX-License-Identifier: MIT
// Value encoding: packed BCD fields in both byte orders and in-place buffer
// reversal. These are pure functions over the caller's buffer: no I/O apart
// from tobcd()'s trace lines (through internal.h, to the trace of the line
// whose command encodes, or the classic trace when a host calls tobcd()),
// no globals of their own, no allocation. The radio commands in cmd.cpp call
// them to build request bodies; nothing here knows about frames or bytes.
// A negative value is encoded as the digits of its magnitude, worked out on
// the unsigned magnitude so that even the most negative long cannot overflow.
#include <cstring>

#include "internal.h"

namespace radioline {
namespace {

constexpr unsigned long kRadix = 10;      // one decimal digit per nibble
constexpr int kHighNibbleShift = 4;       // a byte's more significant digit
constexpr unsigned long kLowByte = 0xFF;  // the bits one field byte keeps

// The magnitude of `value` as an unsigned number: LONG_MIN included.
unsigned long magnitudeOf(long value) {
  const auto bits = static_cast<unsigned long>(value);
  return value < 0 ? 0UL - bits : bits;
}

// Fills outbuf[0 .. buflen-1] with the digits of `magnitude` as
// little-endian packed BCD: byte k gets digit 2k in its low nibble and digit
// 2k+1 in its high nibble; digits that do not fit are dropped. tobcd()'s
// trace lines go to the trace of `traced`, none when it is nullptr.
void fillDigits(unsigned long magnitude, unsigned char *outbuf, int buflen, const Line *traced) {
  if (buflen <= 0) return;  // no field to fill
  std::memset(outbuf, 0, static_cast<size_t>(buflen));
  unsigned char *o = outbuf;
  unsigned char *const end = outbuf + buflen;
  int oddeven = 1;  // 1: next digit to the low nibble; 0: to the high nibble
  if (traced != nullptr) trace(*traced, "tobcd: o %p\n", static_cast<void *>(o));

  while (magnitude != 0) {
    unsigned long rem = magnitude % kRadix;
    if (traced != nullptr) trace(*traced, "tobcd: value %lu\n", magnitude);
    if (traced != nullptr) trace(*traced, "tobcd: rem %lu\n", rem);
    if (oddeven == 0) rem <<= kHighNibbleShift;
    if (traced != nullptr) {
      trace(*traced, "tobcd: after oddeven shift oddeven %d rem %02lx\n", oddeven, rem);
    }
    const auto digit = static_cast<unsigned char>(rem & kLowByte);
    if (traced != nullptr) trace(*traced, "tobcd: after mask rem %02x\n", digit);
    *o |= digit;
    if (traced != nullptr) {
      trace(*traced, "tobcd: after insert o %p *o %02x\n", static_cast<void *>(o), *o);
    }
    if (--oddeven < 0) {
      ++o;
      oddeven = 1;
      if (traced != nullptr) {
        trace(*traced, "tobcd: after recycling oddeven o %p\n", static_cast<void *>(o));
      }
    }
    if (o == end) {
      if (traced != nullptr) trace(*traced, "tobcd: no more room in outbuf\n");
      return;
    }
    magnitude /= kRadix;
    if (traced != nullptr) trace(*traced, "tobcd: after div10 value %lu\n", magnitude);
  }
}

}  // namespace

void tobcd(const Line &line, long value, unsigned char *outbuf, int buflen) {
  fillDigits(magnitudeOf(value), outbuf, buflen, &line);
  bufrev(outbuf, buflen);
}

}  // namespace radioline

using namespace radioline;

void bufrev(unsigned char *a, int buflen) {
  if (a == nullptr) return;
  for (int i = 0, j = buflen - 1; i < j; i++, j--) {
    const unsigned char c = a[i];
    a[i] = a[j];
    a[j] = c;
  }
}

void tobcd(long value, unsigned char *outbuf, int buflen) {
  radioline::tobcd(defaultLine(), value, outbuf, buflen);
}

void tobcdrev(long value, unsigned char *outbuf, int buflen) {
  fillDigits(magnitudeOf(value), outbuf, buflen, nullptr);
}
