// SPDX-License-Identifier: MIT
// The profile's key table and the reading of a profile document. Each
// number is checked by the value reader of its kind (values.cpp) on its
// JSON text, so a profile refuses what the command line refuses, with the
// same words; anything that is not a number never reads as one. A problem
// names the key by its path in the document: "split.tx", "config[1]",
// "channels[2].frequency".
#include "profile.h"

#include <algorithm>
#include <cstdio>
#include <iterator>

#include "text.h"

namespace common {
namespace {

using K = ValueKind;

constexpr std::size_t kConfigLength = 2;
constexpr std::size_t kCodeplugLength = 16;

constexpr const char *kSetByBridge = "set_by_bridge";

std::string problemAt(const std::string &path, const std::string &what) {
  return path + ": " + what;
}

std::optional<long> readNumber(ValueKind kind, const Json &json, const std::string &path,
                               std::string &problem) {
  // The JSON text of anything but a number is never a number's text.
  const std::string text = json.dump();
  const Value value = parseValue(kind, text);
  if (!value.number) problem = problemAt(path, quote(text) + " " + value.problem);
  return value.number;
}

// The names of `object` that are not in `known`, first one only.
std::optional<std::string> unknownName(const Json &object, const std::vector<std::string> &known) {
  for (const auto &item : object.items()) {
    if (std::find(known.begin(), known.end(), item.key()) == known.end()) return item.key();
  }
  return std::nullopt;
}

bool checkNames(const Json &object, const std::vector<std::string> &known, const std::string &path,
                std::string &problem) {
  const std::optional<std::string> unknown = unknownName(object, known);
  if (unknown) problem = (path.empty() ? "" : path + ".") + quote(*unknown) + ": unknown key";
  return !unknown;
}

bool readPair(const ProfileKey &key, const Json &json, const std::string &path, Setting &setting,
              std::string &problem) {
  if (!json.is_object() || !json.contains("tx") || !json.contains("rx")) {
    problem = problemAt(path, "needs an object with tx and rx");
    return false;
  }
  if (!checkNames(json, {"tx", "rx"}, path, problem)) return false;
  setting.json = Json::object();
  for (const char *name : {"tx", "rx"}) {
    const auto number = readNumber(key.kind, json.at(name), path + "." + name, problem);
    if (!number) return false;
    setting.values.push_back(*number);
    setting.json[name] = profileNumber(key.kind, *number);
  }
  return true;
}

bool readBytes(const ProfileKey &key, const Json &json, const std::string &path, Setting &setting,
               std::string &problem) {
  if (!json.is_array() || json.size() != key.count) {
    problem = problemAt(path, "needs an array of " + std::to_string(key.count) + " bytes");
    return false;
  }
  setting.json = Json::array();
  for (std::size_t i = 0; i < json.size(); ++i) {
    const auto number =
        readNumber(key.kind, json[i], path + "[" + std::to_string(i) + "]", problem);
    if (!number) return false;
    setting.values.push_back(*number);
    setting.json.push_back(*number);
  }
  return true;
}

std::optional<Setting> readAt(const ProfileKey &key, const Json &json, const std::string &path,
                              std::string &problem) {
  Setting setting{&key, {}, Json()};
  bool read = false;
  switch (key.shape) {
    case Shape::kNumber:
      if (const auto number = readNumber(key.kind, json, path, problem)) {
        setting.values = {*number};
        setting.json = profileNumber(key.kind, *number);
        read = true;
      }
      break;
    case Shape::kPair:
      read = readPair(key, json, path, setting, problem);
      break;
    case Shape::kBytes:
      read = readBytes(key, json, path, setting, problem);
      break;
  }
  return read ? std::optional<Setting>(setting) : std::nullopt;
}

std::vector<std::string> bridgeKeptNames() {
  std::vector<std::string> names;
  for (const ProfileKey &key : profileKeys()) {
    if (key.bridge_state != nullptr) names.emplace_back(key.name);
  }
  return names;
}

bool readSetByBridge(const Json &json, std::string &problem) {
  const std::string path = std::string("radio.") + kSetByBridge;
  if (!json.is_array()) {
    problem = problemAt(path, "needs an array of key names");
    return false;
  }
  const std::vector<std::string> kept = bridgeKeptNames();
  for (std::size_t i = 0; i < json.size(); ++i) {
    const std::string at = path + "[" + std::to_string(i) + "]";
    const Json &name = json[i];
    if (!name.is_string() || std::find(kept.begin(), kept.end(), name) == kept.end()) {
      problem = problemAt(at, quote(name.dump()) + " is not a key a bridge keeps");
      return false;
    }
    if (std::find(json.begin(), json.begin() + static_cast<long>(i), name) !=
        json.begin() + static_cast<long>(i)) {
      problem = problemAt(at, quote(name.dump()) + " is listed twice");
      return false;
    }
  }
  return true;
}

bool readRadioBlock(const Json &json, std::string &problem) {
  if (!json.is_object()) {
    problem = problemAt("radio", "needs an object");
    return false;
  }
  std::vector<std::string> known(std::begin(kRadioTexts), std::end(kRadioTexts));
  known.emplace_back(kSetByBridge);
  if (!checkNames(json, known, "radio", problem)) return false;
  for (const char *name : kRadioTexts) {
    if (json.contains(name) && !json.at(name).is_string()) {
      problem = problemAt(std::string("radio.") + name, "needs text");
      return false;
    }
  }
  return !json.contains(kSetByBridge) || readSetByBridge(json.at(kSetByBridge), problem);
}

std::optional<Channel> readChannel(const Json &json, const std::string &path,
                                   std::string &problem) {
  if (!json.is_object() || !json.contains("slot")) {
    problem = problemAt(path, "needs an object with a slot");
    return std::nullopt;
  }
  if (!checkNames(json, channelNames(), path, problem)) return std::nullopt;
  const auto slot = readNumber(K::kMode, json.at("slot"), path + ".slot", problem);
  if (!slot) return std::nullopt;
  Channel channel{*slot, {}, {{"slot", *slot}}};
  for (const ProfileKey &key : profileKeys()) {
    if (!key.in_channel || !json.contains(key.name)) continue;
    const auto setting = readAt(key, json.at(key.name), path + "." + key.name, problem);
    if (!setting) return std::nullopt;
    channel.settings.push_back(*setting);
    channel.json[key.name] = setting->json;
  }
  return channel;
}

bool readChannels(const Json &json, Profile &profile, std::string &problem) {
  if (!json.is_array()) {
    problem = problemAt("channels", "needs an array of channels");
    return false;
  }
  for (std::size_t i = 0; i < json.size(); ++i) {
    const auto channel = readChannel(json[i], "channels[" + std::to_string(i) + "]", problem);
    if (!channel) return false;
    profile.channels.push_back(*channel);
  }
  std::stable_sort(profile.channels.begin(), profile.channels.end(),
                   [](const Channel &a, const Channel &b) { return a.slot < b.slot; });
  profile.has_channels = true;
  return true;
}

// One top-level entry of the document into `profile`.
bool readEntry(const std::string &name, const Json &json, Profile &profile, std::string &problem) {
  if (name == "radio") return readRadioBlock(json, problem);
  if (name == "channels") {
    profile.channels_at = profile.settings.size();
    return readChannels(json, profile, problem);
  }
  const ProfileKey *key = findProfileKey(name);
  if (key == nullptr) {
    problem = quote(name) + ": unknown key";
    return false;
  }
  const auto setting = readAt(*key, json, name, problem);
  if (setting) profile.settings.push_back(*setting);
  return setting.has_value();
}

std::string valueText(ValueKind kind, long number) {
  char text[32];
  if (kind == K::kTone) {
    std::snprintf(text, sizeof text, "%ld.%ld", number / 10, number % 10);
  } else if (kind == K::kByte) {
    std::snprintf(text, sizeof text, "0x%02lx", number);
  } else {
    std::snprintf(text, sizeof text, "%ld", number);
  }
  return text;
}

}  // namespace

const std::vector<ProfileKey> &profileKeys() {
  // clang-format off
  static const std::vector<ProfileKey> keys{
      // name       kind           shape           count            setter        switches reader        bridge's state          channel
      {"mode",      K::kMode,      Shape::kNumber, 1,               "set-mode",   "",      nullptr,      "/last_set/mode",       false},
      {"frequency", K::kFrequency, Shape::kNumber, 1,               "set-freq",   "",      nullptr,      "/last_set/freq",       true},
      {"duplex",    K::kDuplex,    Shape::kNumber, 1,               "set-duplex", "",      nullptr,      "/last_set/duplex",     true},
      {"tx_tone",   K::kTone,      Shape::kNumber, 1,               "set-pl",     "",      nullptr,      "/last_set/pl/tx",      true},
      {"rx_tone",   K::kTone,      Shape::kNumber, 1,               "set-pl",     " --rx", nullptr,      "/last_set/pl/rx",      true},
      {"offset",    K::kOffset,    Shape::kNumber, 1,               "set-offset", "",      "get-offset", nullptr,                true},
      {"split",     K::kSplit,     Shape::kPair,   2,               "set-split",  "",      "get-split",  nullptr,                false},
      {"config",    K::kByte,      Shape::kBytes,  kConfigLength,   "set-config", "",      "get-config", nullptr,                false},
      {"codeplug",  K::kByte,      Shape::kBytes,  kCodeplugLength, "set-codeplug", "",    "get-codeplug", nullptr,              false},
  };
  // clang-format on
  return keys;
}

const ProfileKey *findProfileKey(const std::string &name) {
  const auto &keys = profileKeys();
  const auto found = std::find_if(keys.begin(), keys.end(),
                                  [&name](const ProfileKey &key) { return name == key.name; });
  return found == keys.end() ? nullptr : &*found;
}

Json profileNumber(ValueKind kind, long number) {
  if (kind == K::kTone) return inUserUnits(kind, number);
  return number;
}

std::vector<std::string> channelNames() {
  std::vector<std::string> names{"slot"};
  for (const ProfileKey &key : profileKeys()) {
    if (key.in_channel) names.emplace_back(key.name);
  }
  return names;
}

std::optional<Profile> readProfile(const Json &document, std::string &problem) {
  if (!document.is_object()) {
    problem = "a profile is a JSON object, not " + quote(document.dump());
    return std::nullopt;
  }
  Profile profile;
  for (const auto &item : document.items()) {
    if (!readEntry(item.key(), item.value(), profile, problem)) return std::nullopt;
  }
  return profile;
}

std::optional<Setting> readSetting(const ProfileKey &key, const Json &json, std::string &problem) {
  return readAt(key, json, key.name, problem);
}

std::vector<long> valuesOf(const ProfileKey &key, const Json &json) {
  std::string problem;
  const auto setting = readSetting(key, json, problem);
  return setting ? setting->values : std::vector<long>();
}

std::string setterText(const Setting &setting) {
  std::string text = setting.key->setter;
  for (long number : setting.values) text += " " + valueText(setting.key->kind, number);
  return text + setting.key->switches;
}

Json bridgeValue(const ProfileKey &key, const Json &bridge_state) {
  if (key.bridge_state == nullptr || !bridge_state.is_object()) return nullptr;
  const Json::json_pointer where(key.bridge_state);
  return bridge_state.contains(where) ? bridge_state.at(where) : Json();
}

Json savedProfile(const std::string &version, const std::string &address, const std::string &line,
                  const Json &readings, const Json &bridge_state) {
  Json radio = Json::object();
  if (!version.empty()) radio["version"] = version;
  radio["address"] = address;
  if (!line.empty()) radio["line"] = line;
  Json keys = Json::object();
  Json set_by_bridge = Json::array();
  for (const ProfileKey &key : profileKeys()) {
    std::string problem;
    if (readings.contains(key.name)) {
      keys[key.name] = readings.at(key.name);
    } else if (const auto kept = readSetting(key, bridgeValue(key, bridge_state), problem)) {
      keys[key.name] = kept->json;
      set_by_bridge.push_back(key.name);
    }
  }
  if (!set_by_bridge.empty()) radio[kSetByBridge] = set_by_bridge;
  Json profile{{"radio", radio}};
  profile.update(keys);
  return profile;
}

std::string profileText(const Json &profile) {
  std::string text;
  for (const auto &item : profile.items()) {
    text += std::string(text.empty() ? "{\n" : ",\n") + "  " + Json(item.key()).dump() + ": ";
    if (item.key() != "channels" || item.value().empty()) {
      text += item.value().dump();
      continue;
    }
    std::string channels;
    for (const Json &channel : item.value()) {
      channels += std::string(channels.empty() ? "[\n" : ",\n") + "    " + channel.dump();
    }
    text += channels + "\n  ]";
  }
  return (text.empty() ? "{" : text + "\n") + "}\n";
}

}  // namespace common
