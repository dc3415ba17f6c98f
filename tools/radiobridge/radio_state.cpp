// SPDX-License-Identifier: MIT
// A radio's state and the effects table: a reader's result replaces its
// fields; a setter of a value no reader reports is remembered under
// "last_set"; a setter of a readable value names the reader that shows
// what it wrote, to be run next.
#include "radio_state.h"

#include <algorithm>
#include <array>

#include "values.h"

namespace radiobridge {
namespace {

using Values = std::vector<long>;

// What a successful command changes in a radio's state: the reader that
// shows the value it wrote, and what it set that no reader can report.
struct Effect {
  const char *command;
  const char *read_back;
  void (*note)(Json &last_set, const Values &values);
};

// clang-format off
constexpr std::array<Effect, 9> kEffects{{
    // command        read back       values to remember
    {"set-freq",      nullptr,        [](Json &s, const Values &v) { s["freq"] = v[0]; }},
    {"set-mode",      nullptr,        [](Json &s, const Values &v) { s["mode"] = v[0]; }},
    {"set-duplex",    nullptr,        [](Json &s, const Values &v) { s["duplex"] = v[0]; }},
    {"set-pl",        nullptr,        [](Json &s, const Values &v) {
                                        s["pl"][v[1] != 0 ? "rx" : "tx"] =
                                            common::inUserUnits(common::ValueKind::kTone, v[0]); }},
    // A recalled slot brings its own frequency, duplex, tones and codeplug.
    {"recall-mode",   "get-codeplug", [](Json &s, const Values &) {
                                        s.erase("freq"); s.erase("duplex"); s.erase("pl"); }},
    {"set-codeplug",  "get-codeplug", nullptr},
    {"set-config",    "get-config",   nullptr},
    {"set-offset",    "get-offset",   nullptr},
    {"set-split",     "get-split",    nullptr},
}};
// clang-format on

const Effect *effectOf(const std::string &command) {
  const auto row = std::find_if(kEffects.begin(), kEffects.end(),
                                [&command](const Effect &e) { return command == e.command; });
  return row == kEffects.end() ? nullptr : &*row;
}

}  // namespace

Json stateObject(const RadioState &state) {
  Json object{{"available", state.available}};
  object.update(state.readings);
  object["last_set"] = state.last_set;
  object["unsupported"] = state.unsupported;
  return object;
}

const std::vector<std::string> &stateReaders() {
  static const std::vector<std::string> readers{"version", "get-codeplug", "get-config",
                                                "get-offset", "get-split"};
  return readers;
}

const char *noteSuccess(RadioState &state, const common::Invocation &invocation,
                        const Json &result) {
  const std::string name = common::commandName(invocation);
  const auto &readers = stateReaders();
  if (std::find(readers.begin(), readers.end(), name) != readers.end()) {
    for (const auto &field : result.items()) {
      if (field.key() != "command" && field.key() != "ok")
        state.readings[field.key()] = field.value();
    }
    return nullptr;
  }
  const Effect *effect = effectOf(name);
  if (effect == nullptr) return nullptr;
  if (effect->note != nullptr) effect->note(state.last_set, invocation.values);
  return effect->read_back;
}

std::string readBackOf(const std::string &command) {
  const Effect *effect = effectOf(command);
  return effect == nullptr || effect->read_back == nullptr ? std::string() : effect->read_back;
}

}  // namespace radiobridge
