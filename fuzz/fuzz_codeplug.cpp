// SPDX-License-Identifier: MIT
// Fuzz: setvfocodeplug's text parser sends the low bytes of sixteen hex numbers, or nothing.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <string>

#include "fuzz_line.h"
#include "radioline.h"

namespace {

constexpr int kRadio = 0x20;
constexpr int kController = 0x91;
constexpr int kPlugBytes = 16;

// What "%x" conversions make of the text: their count and the values.
int scan_plug(const char *text, unsigned (&numbers)[kPlugBytes]) {
  return std::sscanf(text, "%x %x %x %x %x %x %x %x %x %x %x %x %x %x %x %x", &numbers[0],
                     &numbers[1], &numbers[2], &numbers[3], &numbers[4], &numbers[5], &numbers[6],
                     &numbers[7], &numbers[8], &numbers[9], &numbers[10], &numbers[11],
                     &numbers[12], &numbers[13], &numbers[14], &numbers[15]);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  std::string plug(reinterpret_cast<const char *>(data), size);  // ends in a zero byte
  unsigned numbers[kPlugBytes] = {};
  const int converted = scan_plug(plug.c_str(), numbers);

  FuzzLine line;
  line.send_last(wire_frame(kController, kRadio, {0xFB}));
  errno = 0;
  const int rc = setvfocodeplug(kRadio, kController, plug.data());
  const int error = errno;
  const Bytes sent = line.written();
  if (converted != kPlugBytes) {
    require(rc == EINVAL && error == EINVAL, "a short plug text is EINVAL");
    require(sent.empty(), "a short plug text sends nothing");
    return 0;
  }
  Bytes body{0xAA, 0x01};
  for (const unsigned number : numbers) body.push_back(static_cast<std::uint8_t>(number));
  require(rc == 0, "a full plug text is accepted");
  require(sent == wire_frame(kRadio, kController, body), "the plug's low bytes are sent");
  return 0;
}
