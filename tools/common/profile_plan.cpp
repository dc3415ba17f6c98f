// SPDX-License-Identifier: MIT
// The decisions of diff and apply, and their report. A readable key is
// compared number for number with the reader's field; a key no reader
// reports, a channel, or a key whose reader the radio refused cannot be
// compared and is always set. Values are shown as a technician reads
// them: hertz signed with their unit, bytes in hex.
#include "profile_plan.h"

#include <algorithm>
#include <cstdio>

namespace common {
namespace {

std::string signedHertz(long hertz) {
  return (hertz > 0 ? "+" : "") + std::to_string(hertz) + " Hz";
}

std::string hexBytes(const std::vector<long> &bytes) {
  std::string text;
  for (long byte : bytes) {
    char hex[8];
    std::snprintf(hex, sizeof hex, "%02lx", byte);
    text += (text.empty() ? "" : " ") + std::string(hex);
  }
  return text;
}

// A readable key's value as the diff and the read-back show it.
std::string shown(const ProfileKey &key, const std::vector<long> &values) {
  switch (key.shape) {
    case Shape::kPair:
      return "tx " + signedHertz(values.at(0)) + " rx " + signedHertz(values.at(1));
    case Shape::kBytes:
      return hexBytes(values);
    case Shape::kNumber:
      break;
  }
  return signedHertz(values.at(0));
}

std::string channelKey(const Channel &channel) {
  return "channel " + std::to_string(channel.slot);
}

// What the radio holds for `setting`'s key before it is set, or nothing
// when that cannot be known: what the last channel naming it set, else
// what was read.
std::optional<std::vector<long>> heldBefore(const Setting &setting, const Profile &profile,
                                            const Json &readings) {
  const ProfileKey &key = *setting.key;
  if (key.reader == nullptr || !readings.contains(key.name)) return std::nullopt;
  for (auto channel = profile.channels.rbegin(); channel != profile.channels.rend(); ++channel) {
    for (const Setting &set : channel->settings) {
      if (set.key == setting.key) return set.values;
    }
  }
  return valuesOf(key, readings.at(key.name));
}

const Setting *settingOf(const Profile &profile, const ProfileKey &key) {
  const auto found = std::find_if(profile.settings.begin(), profile.settings.end(),
                                  [&key](const Setting &setting) { return setting.key == &key; });
  return found == profile.settings.end() ? nullptr : &*found;
}

Step channelStep(const Channel &channel) {
  Step step;
  step.key = channelKey(channel);
  step.commands.push_back("set-mode " + std::to_string(channel.slot));
  for (const Setting &setting : channel.settings) step.commands.push_back(setterText(setting));
  step.commands.emplace_back("store-vfo");
  return step;
}

// The mode step of a profile with channels and no mode of its own.
std::optional<Step> slotStep(const Profile &profile, std::optional<long> previous_slot) {
  if (profile.channels.empty()) return std::nullopt;
  Step step;
  step.key = "mode";
  if (previous_slot) {
    step.commands.push_back("set-mode " + std::to_string(*previous_slot));
  } else {
    step.action = Step::Action::kLeave;
    step.slot = profile.channels.back().slot;
  }
  return step;
}

Step settingStep(const Setting &setting, const Profile &profile, const Json &readings) {
  Step step;
  step.key = setting.key->name;
  const auto held = heldBefore(setting, profile, readings);
  if (held && *held == setting.values) {
    step.action = Step::Action::kUnchanged;
    return step;
  }
  step.commands.push_back(setterText(setting));
  if (setting.key->reader != nullptr && readings.contains(setting.key->name)) {
    step.read_back = setting.key;
    step.wanted = setting.values;
  }
  return step;
}

std::optional<Difference> differenceOf(const Setting &setting, const Json &readings) {
  const ProfileKey &key = *setting.key;
  if (key.reader == nullptr || !readings.contains(key.name)) {
    return Difference{key.name, false, nullptr, setting.json};
  }
  const Json &held = readings.at(key.name);
  if (valuesOf(key, held) == setting.values) return std::nullopt;
  return Difference{key.name, true, held, setting.json};
}

}  // namespace

std::vector<const ProfileKey *> keysToRead(const Profile &profile) {
  std::vector<const ProfileKey *> keys;
  for (const ProfileKey &key : profileKeys()) {
    if (key.reader != nullptr && settingOf(profile, key) != nullptr) keys.push_back(&key);
  }
  return keys;
}

std::vector<Difference> differences(const Profile &profile, const Json &readings) {
  std::vector<Difference> found;
  for (std::size_t i = 0; i <= profile.settings.size(); ++i) {
    if (profile.has_channels && i == profile.channels_at) {
      for (const Channel &channel : profile.channels) {
        found.push_back({channelKey(channel), false, nullptr, channel.json});
      }
    }
    if (i == profile.settings.size()) break;
    if (auto difference = differenceOf(profile.settings[i], readings)) found.push_back(*difference);
  }
  return found;
}

std::string differenceLine(const Difference &difference) {
  const std::string head = difference.key + ": ";
  if (!difference.readable) return head + "cannot be read, would be set";
  const ProfileKey &key = *findProfileKey(difference.key);
  return head + "radio " + shown(key, valuesOf(key, difference.radio)) + ", profile " +
         shown(key, valuesOf(key, difference.profile));
}

Json differenceObject(const Difference &difference) {
  Json object{{"key", difference.key}};
  if (difference.readable) {
    object["radio"] = difference.radio;
  } else {
    object["readable"] = false;
  }
  object["profile"] = difference.profile;
  return object;
}

std::vector<Step> planApply(const Profile &profile, const Json &readings,
                            std::optional<long> previous_slot) {
  std::vector<Step> steps;
  for (const Channel &channel : profile.channels) steps.push_back(channelStep(channel));
  const ProfileKey &mode = profileKeys().front();
  if (settingOf(profile, mode) == nullptr) {
    if (auto step = slotStep(profile, previous_slot)) steps.push_back(*step);
  }
  for (const ProfileKey &key : profileKeys()) {
    if (const Setting *setting = settingOf(profile, key)) {
      steps.push_back(settingStep(*setting, profile, readings));
    }
  }
  return steps;
}

std::string readBackProblem(const ProfileKey &key, const Json &field,
                            const std::vector<long> &wanted) {
  const std::vector<long> got = valuesOf(key, field);
  if (got == wanted) return {};
  const std::string read = got.empty() ? "something that is not a value" : shown(key, got);
  return "read back " + read + ", wanted " + shown(key, wanted);
}

std::vector<std::string> appliedKeys(const std::vector<KeyResult> &results) {
  std::vector<std::string> applied;
  for (const KeyResult &result : results) {
    if (result.result == "failed") break;
    if (result.result == "set") applied.push_back(result.key);
  }
  return applied;
}

std::string applyText(const std::vector<KeyResult> &results) {
  std::string text;
  for (const KeyResult &result : results) {
    text += result.key + ": ";
    if (result.result == "left") {
      text += "left at slot " + std::to_string(result.slot) + "\n";
    } else if (result.result == "failed") {
      text += "failed: " + result.error + "\n";
      std::string applied;
      for (const std::string &key : appliedKeys(results)) {
        applied += (applied.empty() ? "" : ", ") + key;
      }
      return text + "applied before it: " + (applied.empty() ? "nothing" : applied) + "\n";
    } else {
      text += result.result + "\n";
    }
  }
  return text;
}

Json applyObject(const std::vector<KeyResult> &results) {
  Json keys = Json::array();
  bool ok = true;
  for (const KeyResult &result : results) {
    Json key{{"key", result.key}, {"result", result.result}};
    if (result.result == "failed") {
      key["error"] = result.error;
      ok = false;
    }
    if (result.result == "left") key["slot"] = result.slot;
    keys.push_back(key);
  }
  return {{"ok", ok}, {"keys", keys}, {"applied", appliedKeys(results)}};
}

}  // namespace common
