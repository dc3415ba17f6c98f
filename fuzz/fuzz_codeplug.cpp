// SPDX-License-Identifier: MIT
// Fuzz: setvfocodeplug sends the low bytes of sixteen hex numbers written in any form, or nothing.
#include <cerrno>
#include <cstdio>
#include <string>

#include "frame.h"
#include "fuzz_line.h"

// Odd first byte: sixteen numbers made from the next 32 bytes, each written
// bare, 0x-prefixed or wider than a byte, after a run of white space, then the
// rest of the input as free text, which the parser must ignore; the numbers'
// low bytes must go out exactly. Even: any text, which is either refused with
// nothing sent or sent as one whole frame.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  static const char *const forms[] = {"%x", "0x%02X", "%x%02x"};
  static const char *const spaces[] = {" ", "\t", "\n  "};
  if (size == 0) return 0;
  const bool generated = (data[0] & 1) != 0 && size > 32;
  const std::size_t rest = generated ? 33 : 1;
  std::string text;
  Bytes body{0xAA, 0x01};
  for (std::size_t i = 1; i < rest; i += 2) {
    char number[16];
    const int form = data[i] % 3;
    std::snprintf(number, sizeof number, forms[form], form == 2 ? data[i] : data[i + 1],
                  data[i + 1]);
    text += std::string(spaces[data[i] / 3 % 3]) + number;
    body.push_back(data[i + 1]);
  }
  text += (generated ? " " : "") + std::string(data + rest, data + size);
  FuzzLine line;
  line.sendLast(radiosim::encodeFrame(kController, kRadio, {0xFB}));
  errno = 0;
  const int rc = setvfocodeplug(kRadio, kController, text.data());
  const int error = errno;
  const Bytes sent = line.written();
  if (generated) {
    require(rc == 0 && sent == radiosim::encodeFrame(kRadio, kController, body),
            "the plug's bytes");
  } else if (rc != 0) {
    require(rc == EINVAL && error == EINVAL && sent.empty(), "a refused text sends nothing");
  } else {
    require(sent.size() >= 23 && sent.size() <= 39, "a whole codeplug frame");
  }
  return 0;
}
