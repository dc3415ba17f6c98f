// SPDX-License-Identifier: MIT
// LineFaults, the simulated radio as the line sees it, faults and all:
// bytes heard go through the frame parser, frames addressed to the radio go
// through the command decoder, and each answer is shaped by the line
// behaviours chosen in SimOptions (echo, other stations' traffic, noise,
// periodic refusals and silences, over-long replies). A change is handed to a keeper before the
// radio acknowledges it; a change the keeper cannot keep is undone and refused. It does no I/O of
// its own; the serving loop writes what it returns.
#ifndef RADIOSIM_LINE_FAULTS_H
#define RADIOSIM_LINE_FAULTS_H

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "frame.h"
#include "radio.h"
#include "sim_options.h"

namespace radiosim {

// What the radio puts on the line for one frame it heard.
struct Transmission {
  Bytes heard;      // sent at once: the echo of the frame, when echoing
  Bytes answer;     // sent after the reply delay: other traffic, noise, the reply
  std::string log;  // one line, no newline
};

// Keeps the radio's changed state (saves it); false, with the reason in
// `error`, when it could not.
using Keeper = std::function<bool(const Radio &radio, std::string &error)>;

class LineFaults {
 public:
  LineFaults(SimOptions options, Radio radio, Keeper keeper = {});

  // Feeds one byte from the line; yields a transmission whenever it
  // completes a frame.
  std::optional<Transmission> receive(std::uint8_t byte);

  const Radio &radio() const { return radio_; }

 private:
  Transmission respond(const Frame &request);
  // Handles a request for the radio, keeping or undoing what it changes.
  Outcome handleKept(const Bytes &body);
  bool isNth(unsigned every) const;

  FrameParser parser_;
  SimOptions options_;
  Radio radio_;
  Keeper keeper_;
  unsigned commands_ = 0;  // frames addressed to the radio so far
};

}  // namespace radiosim

#endif
