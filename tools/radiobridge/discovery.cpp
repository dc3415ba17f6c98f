// SPDX-License-Identifier: MIT
// The dashboard announcements of each radio: one row per entity, each
// turned into a retained configuration on PREFIX/COMPONENT/NODE/OBJECT/config.
// Every entity shares the device block and the availability, which takes
// both the line's status (online with the line open) and the radio's own
// "available", so the hub greys the radio out when the bridge stops, the
// line is lost or the radio stops answering. Numbers send a command
// line to the radio's plain request topic through a command template,
// buttons a fixed command; states are read from the radio's retained state.
// An entity that shows what a reader reads is left out for a radio that
// does not support that reader. The line itself is a device too, with two
// diagnostic sensors on its metrics: requests per minute and line busy %.
// The hub renders templates with Jinja2, so they use only its standard
// filters: a command template gives exactly what radioctl accepts (an
// integer, or a tone with one decimal), and a value template gives "None",
// the hub's word for unknown, for a value not reported or made unknown by
// a recall, never an error.
#include "discovery.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <optional>

#include "values.h"

namespace radiobridge {
namespace {

using common::radioName;
using common::Topics;
using Json = common::Json;

enum class Component { kNumber, kButton, kSensor };

struct Entity {
  const char *object;
  const char *name;
  Component component;
  const char *command;  // a number's command template, a button's payload
  const char *value;    // the value template on the radio's state; nullptr: none
  const char *reader;   // the reader whose value it shows; nullptr: none
  const char *unit;     // nullptr: none
  std::optional<common::ValueKind> values;  // a number's: its range and step as radioctl's
  bool box;                                 // a number typed in rather than slid to
};

constexpr auto kNoValues = std::nullopt;

// Command templates: the value as radioctl takes it.
constexpr const char *kSetFreq = "set-freq {{ value | int }}";
constexpr const char *kSetMode = "set-mode {{ value | int }}";
constexpr const char *kSetDuplex = "set-duplex {{ value | int }}";
constexpr const char *kSetTx = "set-pl {{ '%.1f' | format(value | float) }}";
constexpr const char *kSetRx = "set-pl {{ '%.1f' | format(value | float) }} --rx";
constexpr const char *kSetOffset = "set-offset {{ value | int }}";

// Value templates on the radio's state ("last_set" is always there, its
// fields and the readings only once known).
constexpr const char *kFreq = "{{ value_json['last_set']['freq'] | default(None) }}";
constexpr const char *kMode = "{{ value_json['last_set']['mode'] | default(None) }}";
constexpr const char *kDuplex = "{{ value_json['last_set']['duplex'] | default(None) }}";
constexpr const char *kTx =
    "{{ (value_json['last_set']['pl'] | default({}))['tx'] | default(None) }}";
constexpr const char *kRx =
    "{{ (value_json['last_set']['pl'] | default({}))['rx'] | default(None) }}";
constexpr const char *kOffset = "{{ value_json['offset'] | default(None) }}";
constexpr const char *kVersion = "{{ value_json['version'] | default(None) }}";
constexpr const char *kCodeplug =
    "{{ ('%02x' * 16) | format(*value_json['codeplug']) "
    "if value_json['codeplug'] is defined else None }}";
constexpr const char *kSplit =
    "{{ '%d / %d Hz' | format(value_json['split']['tx'], value_json['split']['rx']) "
    "if value_json['split'] is defined else None }}";

using C = Component;
using K = common::ValueKind;

// clang-format off
constexpr std::array<Entity, 11> kEntities{{
    // object       name           component   command        value      reader          unit     values         box
    {"frequency",   "Frequency",   C::kNumber, kSetFreq,      kFreq,     nullptr,        "Hz",    K::kFrequency, true},
    {"mode_slot",   "Mode slot",   C::kNumber, kSetMode,      kMode,     nullptr,        nullptr, K::kMode,      false},
    {"store_vfo",   "Store VFO",   C::kButton, "store-vfo",   nullptr,   nullptr,        nullptr, kNoValues,     false},
    {"recall_mode", "Recall mode", C::kButton, "recall-mode", nullptr,   nullptr,        nullptr, kNoValues,     false},
    {"duplex",      "Duplex",      C::kNumber, kSetDuplex,    kDuplex,   nullptr,        nullptr, K::kDuplex,    false},
    {"tx_tone",     "TX tone",     C::kNumber, kSetTx,        kTx,       nullptr,        "Hz",    K::kTone,      false},
    {"rx_tone",     "RX tone",     C::kNumber, kSetRx,        kRx,       nullptr,        "Hz",    K::kTone,      false},
    {"tx_offset",   "TX offset",   C::kNumber, kSetOffset,    kOffset,   "get-offset",   "Hz",    K::kOffset,    true},
    {"version",     "Version",     C::kSensor, nullptr,       kVersion,  "version",      nullptr, kNoValues,     false},
    {"codeplug",    "Codeplug",    C::kSensor, nullptr,       kCodeplug, "get-codeplug", nullptr, kNoValues,     false},
    {"split",       "Split",       C::kSensor, nullptr,       kSplit,    "get-split",    nullptr, kNoValues,     false},
}};
// clang-format on

// The line's status counts as available while the bridge is online with
// the line open; the radio's state while it answers.
constexpr const char *kLineAvailable =
    "{{ 'online' if value_json['state'] == 'online' and value_json['line'] == 'open' "
    "else 'offline' }}";
constexpr const char *kRadioAvailable =
    "{{ 'online' if value_json['available'] | default(false) else 'offline' }}";
// The line's own entities count as available while the bridge is online.
constexpr const char *kBridgeAvailable =
    "{{ 'online' if value_json['state'] == 'online' else 'offline' }}";

// The line's entities: diagnostic sensors on the line's metrics.
struct LineEntity {
  const char *object;
  const char *name;
  const char *value;  // the value template on the metrics
  const char *unit;
};

constexpr std::array<LineEntity, 2> kLineEntities{{
    {"requests_per_minute", "Requests per minute", "{{ value_json['last_minute']['requests'] }}",
     "requests/min"},
    {"line_busy", "Line busy", "{{ (value_json['last_minute']['line_busy'] * 100) | round(1) }}",
     "%"},
}};

const char *componentName(Component component) {
  switch (component) {
    case Component::kNumber:
      return "number";
    case Component::kButton:
      return "button";
    case Component::kSensor:
      return "sensor";
  }
  return "";
}

// A whole number as a JSON integer (9999999999, not 9999999999.0).
Json number(double value) {
  return value == std::floor(value) ? Json(static_cast<long long>(value)) : Json(value);
}

// `text` with its ASCII letters and digits as they are and every other
// byte as - and two lower-case hex digits: no two texts share an encoding,
// and none holds a _, which can therefore join encodings.
std::string encoded(const std::string &text) {
  std::string out;
  for (const char c : text) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) {
      out += c;
    } else {
      out += "-" + radioName(static_cast<unsigned char>(c));
    }
  }
  return out;
}

// Whether `entity` shows a reader in `without`.
bool lacking(const Entity &entity, const std::vector<std::string> &without) {
  return entity.reader != nullptr &&
         std::find(without.begin(), without.end(), entity.reader) != without.end();
}

common::ConfigTopic configOf(const std::string &node, const Entity &entity) {
  return {componentName(entity.component), node, entity.object};
}

Json entityConfig(const Entity &entity, const Topics &topics, int radio) {
  Json config{{"name", entity.name}};
  if (entity.command != nullptr) config["command_topic"] = topics.request(radio);
  if (entity.value != nullptr) {
    config["state_topic"] = topics.state(radio);
    config["value_template"] = entity.value;
  }
  if (entity.unit != nullptr) config["unit_of_measurement"] = entity.unit;
  switch (entity.component) {
    case Component::kNumber: {
      const common::Range range = common::rangeOf(*entity.values);
      config["command_template"] = entity.command;
      config["min"] = number(range.min);
      config["max"] = number(range.max);
      config["step"] = number(range.step);
      if (entity.box) config["mode"] = "box";
      break;
    }
    case Component::kButton:
      config["payload_press"] = entity.command;
      break;
    case Component::kSensor:
      config["entity_category"] = "diagnostic";
      break;
  }
  return config;
}

// `config` with what every entity of `node` carries: its id, device,
// availability and origin.
Json owned(Json config, const std::string &node, const char *object, const Json &device,
           const Json &availability) {
  config["unique_id"] = node + "_" + object;
  config["device"] = device;
  config["availability"] = availability;
  config["availability_mode"] = "all";
  config["origin"] = {{"name", "radiobridge"}, {"sw_version", RADIOBRIDGE_VERSION}};
  return config;
}

}  // namespace

Discovery::Discovery(DiscoverySettings settings, const Topics &topics)
    : settings_(std::move(settings)), topics_(topics), config_topics_(settings_.prefix) {}

std::string Discovery::nodeHead() const {
  return lineNode() + "_";
}

std::string Discovery::lineNode() const {
  return encoded(settings_.topic_base) + "_" + encoded(settings_.line);
}

std::string Discovery::node(int radio) const {
  return nodeHead() + radioName(radio);
}

std::vector<Announcement> Discovery::announcements(int radio, const std::string &version,
                                                   const std::vector<std::string> &without) const {
  std::vector<Announcement> out;
  if (!settings_.enabled) return out;
  const std::string node = this->node(radio);
  Json device{{"identifiers", {node}},
              {"name", "Radio " + radioName(radio) + " on " + settings_.line},
              {"manufacturer", "radioline"}};
  if (!version.empty()) {
    device["sw_version"] = version;
    device["model"] = version.substr(0, version.find(' '));
  }
  const Json availability{{{"topic", topics_.status()}, {"value_template", kLineAvailable}},
                          {{"topic", topics_.state(radio)}, {"value_template", kRadioAvailable}}};
  for (const Entity &entity : kEntities) {
    if (lacking(entity, without)) continue;
    out.emplace_back(
        config_topics_.topic(configOf(node, entity)),
        owned(entityConfig(entity, topics_, radio), node, entity.object, device, availability));
  }
  return out;
}

std::vector<Announcement> Discovery::lineAnnouncements() const {
  std::vector<Announcement> out;
  if (!settings_.enabled) return out;
  const std::string node = lineNode();
  const Json device{{"identifiers", {node}},
                    {"name", "Line " + settings_.line},
                    {"manufacturer", "radioline"},
                    {"sw_version", RADIOBRIDGE_VERSION}};
  const Json availability{{{"topic", topics_.status()}, {"value_template", kBridgeAvailable}}};
  for (const LineEntity &entity : kLineEntities) {
    const Json config{{"name", entity.name},
                      {"state_topic", topics_.metrics()},
                      {"value_template", entity.value},
                      {"unit_of_measurement", entity.unit},
                      {"state_class", "measurement"},
                      {"entity_category", "diagnostic"}};
    out.emplace_back(config_topics_.topic({"sensor", node, entity.object}),
                     owned(config, node, entity.object, device, availability));
  }
  return out;
}

std::vector<std::string> Discovery::withdrawn(int radio,
                                              const std::vector<std::string> &without) const {
  std::vector<std::string> out;
  for (const Entity &entity : kEntities) {
    if (settings_.enabled && lacking(entity, without))
      out.push_back(config_topics_.topic(configOf(node(radio), entity)));
  }
  return out;
}

bool Discovery::stale(const std::string &topic) const {
  const std::optional<common::ConfigTopic> config = config_topics_.read(topic);
  if (config && config->node == lineNode()) {
    return !settings_.enabled || config->component != "sensor" ||
           std::none_of(
               kLineEntities.begin(), kLineEntities.end(),
               [&config](const LineEntity &entity) { return config->object == entity.object; });
  }
  const std::string own = nodeHead();
  if (!config || config->node.compare(0, own.size(), own) != 0) return false;
  const std::optional<int> radio = common::radioOfName(config->node.substr(own.size()));
  if (!radio) return false;
  if (!settings_.enabled || !topics_.serves(*radio)) return true;
  return std::none_of(kEntities.begin(), kEntities.end(), [&config](const Entity &entity) {
    return config->component == componentName(entity.component) && config->object == entity.object;
  });
}

}  // namespace radiobridge
