// SPDX-License-Identifier: MIT
// Fuzz: setvfocodeplug sends the low bytes of sixteen hex numbers written in any form, or nothing.
#include <cerrno>
#include <cstdio>
#include <string>

#include "frame.h"
#include "fuzz_line.h"

namespace {

// Sixteen numbers from the input, each written bare, 0x-prefixed or wider
// than a byte, after a run of white space; then the rest of the input as
// free text, which the parser must ignore. Returns the plug bytes.
Bytes writePlug(const std::uint8_t *&data, std::size_t &size, std::string &text) {
  static const char *const forms[] = {"%x", "0x%02X", "%x%02x"};
  static const char *const spaces[] = {" ", "\t", "\n  "};
  Bytes plug;
  for (int i = 0; i < 16; i++, data += 2, size -= 2) {
    char number[16];
    std::snprintf(number, sizeof number, forms[data[0] % 3], data[0] % 3 == 2 ? data[0] : data[1],
                  data[1]);
    text += spaces[data[0] / 3 % 3];
    text += number;
    plug.push_back(data[1]);
  }
  text += " ";
  return plug;
}

}  // namespace

// Odd first byte: generated numbers, whose bytes must go out exactly.
// Even: any text, which is either refused with nothing sent or sent whole.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  if (size == 0) return 0;
  const bool generated = (data[0] & 1) != 0 && size > 32;
  data++;
  size--;
  std::string text;
  Bytes body{0xAA, 0x01};
  if (generated) {
    const Bytes plug = writePlug(data, size, text);
    body.insert(body.end(), plug.begin(), plug.end());
  }
  text.append(reinterpret_cast<const char *>(data), size);
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
