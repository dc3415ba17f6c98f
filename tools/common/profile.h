// SPDX-License-Identifier: MIT
// A radio profile: a JSON document of a radio's settings in radioctl's own
// value forms, every key optional, and a list of mode slots to program
// ("channels"). One table gives each key its kind of value (values.h says
// the ranges), its shape, the command that sets it, the reader that reports
// it when the radio can, and where the bridge's retained state keeps what
// it last set. Reading a profile checks every key and value against that
// table and names the first bad one ("channels[2].frequency: ..."); a profile
// is made back from what a radio reported. Pure functions, no I/O; the file
// schema/profile.schema.json publishes the same rules for other clients,
// and a test holds the two together.
#ifndef RADIOLINE_COMMON_PROFILE_H
#define RADIOLINE_COMMON_PROFILE_H

#include <optional>
#include <string>
#include <vector>

#include "commands.h"
#include "values.h"

namespace common {

// How a key's value is written in a profile: a number, a {"tx":..,"rx":..}
// pair, or an array of bytes.
enum class Shape { kNumber, kPair, kBytes };

struct ProfileKey {
  const char *name;  // "offset"
  ValueKind kind;    // of each number in the value
  Shape shape;
  std::size_t count;         // numbers in the value: 1, 2 for a pair, the bytes' length
  const char *setter;        // the command that sets it: "set-offset"
  const char *switches;      // what follows the setter's values: " --rx", or ""
  const char *reader;        // the command that reports it, nullptr when none does
  const char *bridge_state;  // where the bridge's state keeps it as last set ("/last_set/freq")
  bool in_channel;           // a channel may name it
};

// The keys in the order apply sets them; save writes them in this order.
const std::vector<ProfileKey> &profileKeys();
const ProfileKey *findProfileKey(const std::string &name);

// The keys of the informative "radio" block, all text but set_by_bridge.
constexpr const char *kRadioTexts[] = {"version", "address", "line"};

// One key's value: the numbers in the library's units (a tone's tenths), and
// as the profile writes them (a tone in Hz).
struct Setting {
  const ProfileKey *key = nullptr;
  std::vector<long> values;
  Json json;
};

// A mode slot to program with the VFO values it names.
struct Channel {
  long slot = 0;
  std::vector<Setting> settings;  // in the table's order
  Json json;                      // as the profile writes it
};

struct Profile {
  std::vector<Setting> settings;  // in the file's order
  std::vector<Channel> channels;  // in slot order
  bool has_channels = false;
  std::size_t channels_at = 0;  // how many settings come before "channels" in the file
};

// Reads `document` as a profile. The first unknown key, missing key or bad
// value goes to `problem` as "KEY: WHAT", and nothing is returned.
std::optional<Profile> readProfile(const Json &document, std::string &problem);

// Reads one key's value (`json`) as the profile writes it, or says why not.
std::optional<Setting> readSetting(const ProfileKey &key, const Json &json, std::string &problem);

// A number in the library's units as a profile writes it: a tone in Hz.
Json profileNumber(ValueKind kind, long number);

// The keys a channel may name, "slot" first.
std::vector<std::string> channelNames();

// The numbers of a reader's field for `key`, as readSetting() gives them.
std::vector<long> valuesOf(const ProfileKey &key, const Json &json);

// The command text that sets `setting`: "set-pl 88.5 --rx".
std::string setterText(const Setting &setting);

// What a save writes: the "radio" block (`version` and `address`, `line`
// when saved through a bridge), then each key of `readings` (a reader's
// field by key name), and from `bridge_state`, the retained state of a
// bridge (null locally), each key the radio cannot report that the bridge
// last set, listed in radio.set_by_bridge.
Json savedProfile(const std::string &version, const std::string &address, const std::string &line,
                  const Json &readings, const Json &bridge_state);

// `profile` as save and import-csv write it: one key a line, and one
// channel a line.
std::string profileText(const Json &profile);

// The bridge's state as last set for `key`, or null.
Json bridgeValue(const ProfileKey &key, const Json &bridge_state);

}  // namespace common

#endif  // RADIOLINE_COMMON_PROFILE_H
