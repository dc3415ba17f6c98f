// SPDX-License-Identifier: MIT
// What the bridge knows of one radio and publishes as its retained state:
// whether it answers, the fields of the readers' last results, the values
// set that no reader can report, and the readers the radio refuses. What a
// successful command changes in that state is one row per command. Pure:
// the worker feeds results in and publishes the state object.
#ifndef RADIOBRIDGE_RADIO_STATE_H
#define RADIOBRIDGE_RADIO_STATE_H

#include <string>
#include <vector>

#include "request.h"

namespace radiobridge {

struct RadioState {
  bool available = true;
  Json readings = Json::object();        // fields of the readers' results
  Json last_set = Json::object();        // values set that the radio cannot report
  std::vector<std::string> unsupported;  // readers the radio refuses
};

Json stateObject(const RadioState &state);

// The readers whose results make up a radio's readable state, in the order
// they are read when a line opens or a radio comes back.
const std::vector<std::string> &stateReaders();

// Records a successful result of `invocation` in `state`; returns the
// reader to run next so the state shows what the radio now holds, or
// nullptr.
const char *noteSuccess(RadioState &state, const common::Invocation &invocation,
                        const Json &result);

// The reader that shows what `command` writes ("get-offset" for
// "set-offset"), or "" for a command that writes nothing readable.
std::string readBackOf(const std::string &command);

}  // namespace radiobridge

#endif  // RADIOBRIDGE_RADIO_STATE_H
