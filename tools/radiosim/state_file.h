// SPDX-License-Identifier: MIT
// Persistence of the simulated radio's state in a small JSON file, so that
// settings survive a restart. The file holds one object:
//   "mode": 3                      current mode slot, 0 to 99
//   "config": "12 34"              the two configuration bytes, hex
//   "tx_offset": -600000           transmit offset in hertz
//   "rx_split": 2, "tx_split": 1   VCO split pair
//   "vfo": {                       the VFO:
//     "frequency": 145500000       hertz, up to ten digits
//     "duplex": 17                 duplex code, 0 to 255
//     "tx_tone": 885, "rx_tone": 1000   PL tones in tenths of a hertz, 0 to 9999
//     "codeplug": "00 01 ... 0f"   sixteen hex bytes
//   }
//   "slots": {"12": {...}}         mode slots by number, each like "vfo"
// Slots equal to an untouched VFO are not written; missing keys keep their
// defaults, unknown keys are refused. The version text is not part of the
// state. A file in the "key = value" lines older radiosims wrote is read
// too, and rewritten as JSON when it is opened. A file is written to
// FILE.tmp, flushed to disk and renamed over FILE, so a crash leaves either
// the old or the new file, never a torn one. A running radiosim holds an
// exclusive lock on its state file (taking it on FILE.tmp before the rename,
// so the lock moves with the name), so a second one on the same file stops
// at once instead of racing on one temporary name.
#ifndef RADIOSIM_STATE_FILE_H
#define RADIOSIM_STATE_FILE_H

#include <string>

#include "radio.h"

namespace radiosim {

// The state as file text.
std::string formatState(const Radio &radio);

// Reads state text, JSON or the old lines, over `radio`; on failure leaves
// `radio` alone and sets `error` to "NAME: what is wrong". Empty text is
// the untouched radio.
bool parseState(const std::string &text, const std::string &name, Radio &radio, std::string &error);

// Loads the file at `path` into `radio`, as parseState() does.
bool loadState(const std::string &path, Radio &radio, std::string &error);

// The state file of one running radio, locked while this object lives.
class StateFile {
 public:
  StateFile() = default;
  StateFile(const StateFile &) = delete;
  StateFile &operator=(const StateFile &) = delete;
  ~StateFile();

  // Locks the file at `path` (creating it when missing), loads it over
  // `radio` and saves it back, which shows it can be saved. On failure
  // `error` says why: "PATH: state file in use" when another radio holds it.
  bool open(const std::string &path, Radio &radio, std::string &error);

  // Replaces the file with the state, atomically, keeping the lock.
  bool save(const Radio &radio, std::string &error);

 private:
  std::string path_;
  int lock_ = -1;  // open on the file the path names now
};

}  // namespace radiosim

#endif
