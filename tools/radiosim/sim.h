// SPDX-License-Identifier: MIT
// The simulated radio as the line sees it: bytes heard go through the frame
// parser, frames addressed to the radio go through the command decoder, and
// each answer is shaped by the line behaviours chosen in SimOptions (echo,
// other stations' traffic, noise, periodic refusals and silences, over-long
// replies). It does no I/O; the serving loop writes what it returns.
#ifndef RADIOSIM_SIM_H
#define RADIOSIM_SIM_H

#include <cstdint>
#include <optional>
#include <string>

#include "frame.h"
#include "radio.h"
#include "sim_options.h"

namespace radiosim {

// What the radio puts on the line for one frame it heard.
struct Transmission {
  Bytes heard;           // sent at once: the echo of the frame, when echoing
  Bytes answer;          // sent after the reply delay: other traffic, noise, the reply
  std::string log;       // one line, no newline
  bool changed = false;  // the radio's state was modified
};

class Simulator {
 public:
  Simulator(SimOptions options, Radio radio);

  // Feeds one byte from the line; yields a transmission whenever it
  // completes a frame.
  std::optional<Transmission> receive(std::uint8_t byte);

  const Radio &radio() const { return radio_; }

 private:
  Transmission respond(const Frame &request);
  bool isNth(unsigned every) const;

  FrameParser parser_;
  SimOptions options_;
  Radio radio_;
  unsigned commands_ = 0;  // frames addressed to the radio so far
};

}  // namespace radiosim

#endif
