// SPDX-License-Identifier: MIT
// What diff and apply decide from a profile and what a radio reported,
// apart from the exchanges that carry it out: which keys to read, what
// differs, the steps of an apply in a safe order (the mode slots first, the
// slot to come back to, the VFO values, the codeplug last) with the keys
// that are already as wanted left alone, what a read-back must show, and
// the lines and JSON objects that report each. Pure functions, no I/O.
#ifndef RADIOLINE_COMMON_PROFILE_PLAN_H
#define RADIOLINE_COMMON_PROFILE_PLAN_H

#include <optional>
#include <string>
#include <vector>

#include "profile.h"

namespace common {

// The readable keys the profile names, in the table's order: what diff and
// apply read first. Readings are kept as a JSON object of each reader's
// field by key name; a key whose reader the radio refused is absent.
std::vector<const ProfileKey *> keysToRead(const Profile &profile);

// One key of the profile that differs from the radio or cannot be compared.
struct Difference {
  std::string key;  // "offset", or "channel 3"
  bool readable = true;
  Json radio;    // what the radio reported (readable only)
  Json profile;  // what the profile says
};

// What differs, in the profile's key order; empty when every key is
// readable and equal.
std::vector<Difference> differences(const Profile &profile, const Json &readings);

// "offset: radio -600000 Hz, profile +600000 Hz", or "frequency: cannot be
// read, would be set".
std::string differenceLine(const Difference &difference);
// {"key":…,"radio":…,"profile":…}, or {"key":…,"readable":false,"profile":…}.
Json differenceObject(const Difference &difference);

// One step of an apply: a key left as it is, set with its commands (and read
// back when it can be), or the mode slot the channels left selected.
struct Step {
  enum class Action { kUnchanged, kSet, kLeave };
  std::string key;  // "mode", "channel 3"
  Action action = Action::kSet;
  std::vector<std::string> commands;      // kSet: the command texts, in order
  const ProfileKey *read_back = nullptr;  // kSet: the key to read back, if readable
  std::vector<long> wanted;               // what reading it back must give
  long slot = 0;                          // kLeave: the slot left selected
};

// The steps in order: each channel in slot order (select it, set its
// values, store the VFO), then the mode slot (the profile's, or the one
// selected before, `previous_slot`, when the profile has channels and no
// mode; without either the last channel's stays), then the other keys in
// the table's order. A readable key is compared with what it will hold
// when its turn comes (a channel may have set it).
std::vector<Step> planApply(const Profile &profile, const Json &readings,
                            std::optional<long> previous_slot);

// Why the value read back for `key` (a reader's field) is not `wanted`:
// "read back -600000 Hz, wanted +600000 Hz", or "" when it is.
std::string readBackProblem(const ProfileKey &key, const Json &field,
                            const std::vector<long> &wanted);

// What became of one step.
struct KeyResult {
  std::string key;
  std::string result;  // "unchanged", "set", "would set", "left", "failed"
  std::string error;   // "failed": why
  long slot = 0;       // "left": the slot
};

// The lines of an apply: "KEY: RESULT" each, and after a failure "applied
// before it: KEY, ..." ("nothing" when none was).
std::string applyText(const std::vector<KeyResult> &results);
// {"ok":…,"keys":[{"key":…,"result":…[,"error":…|,"slot":N]}],"applied":[…]}.
Json applyObject(const std::vector<KeyResult> &results);
// The keys set before the first failure (or all set, when none failed).
std::vector<std::string> appliedKeys(const std::vector<KeyResult> &results);

}  // namespace common

#endif  // RADIOLINE_COMMON_PROFILE_PLAN_H
