// SPDX-License-Identifier: MIT
// radiobridge's dashboard announcements on a real mosquitto, their templates rendered by Jinja2.
#include <gtest/gtest.h>

#include <csignal>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>

#include "broker.h"

namespace {

using Json = nlohmann::json;
using Configs = std::map<std::string, Json>;  // by topic

// What the hub does with each entity: the value it sends (null for a
// button), what radiosim then logs, and what the entity shows afterwards
// (null: not checked).
struct Use {
  const char *object;
  Json value;
  const char *heard;
  Json shown;
};
// In this order: a recall makes the frequency, duplex and tones unknown.
const Use kUses[] = {
    {"store_vfo", nullptr, " stored", nullptr},
    {"recall_mode", nullptr, " recalled", nullptr},
    {"mode_slot", 3.0, "mode 3 selected", "3"},
    {"frequency", 145500000.0, "VFO set to 145.500000 MHz", "145500000"},
    {"duplex", 17, "duplex set to 11", "17"},
    {"tx_tone", 88.5, "tx PL set to 88.5", "88.5"},
    {"rx_tone", 100, "rx PL set to 100.0", "100.0"},
    {"tx_offset", -600000.0, "tx offset set to -600000", "-600000"},
    {"version", nullptr, nullptr, "radiosim 1.0"},
    {"codeplug", nullptr, nullptr, std::string(32, '0')},
    {"split", nullptr, nullptr, "0 / 0 Hz"},
};

// The keys the hub requires of each component.
const std::map<std::string, Words> kRequired{
    {"number", {"command_topic", "command_template", "state_topic", "value_template"}},
    {"button", {"command_topic", "payload_press"}},
    {"sensor", {"state_topic", "value_template"}}};

// One broker for the file; each test serves a line of its own.
class DiscoveryTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { broker_ = new Broker; }
  static void TearDownTestSuite() { delete broker_; }

  void startBridge(const Words &options) {
    bridge_.emplace(RADIOBRIDGE_PATH,
                    joined({{"--broker", broker_->address(), "--user", kBridgeUser,
                             "--password-file", broker_->passwordFile(kBridgeUser)},
                            options}));
  }
  // The retained configurations whose topics match `filter`.
  static Configs configs(const std::string &filter) {
    const Words once{"--retained-only", "-v", "-W", "1", "-t", filter};
    std::istringstream lines(
        runClient("mosquitto_sub", joined({broker_->login(kAdminUser), once})).out);
    Configs found;
    for (std::string topic, payload; lines >> topic && std::getline(lines, payload);)
      found[topic] = Json::parse(payload);
    return found;
  }
  static Json retainedJson(const std::string &topic) {
    return Json::parse(broker_->retained(topic));
  }
  // Each template rendered with its variables, as the hub renders it.
  static Words render(const std::vector<std::pair<Json, Json>> &jobs) {
    std::string input;
    for (const auto &[template_text, variables] : jobs)
      input += Json{template_text, variables}.dump() + "\n";
    std::istringstream lines(runClient("/usr/bin/python3", {HUB_RENDER_PATH}, input).out);
    Words rendered;
    for (std::string line; std::getline(lines, line);) rendered.push_back(line);
    return rendered;
  }

  static Broker *broker_;
  std::optional<Process> bridge_;
};

Broker *DiscoveryTest::broker_ = nullptr;

TEST_F(DiscoveryTest, RenderedTemplatesSetTheRadioAndShowItsState) {
  SimProcess sim({"--stay"});
  startBridge({"-d", sim.slavePath(), "--name", "dash"});
  const std::string node = "radioline_dash_20";
  ASSERT_TRUE(broker_->retainedHolds("homeassistant/sensor/" + node + "/version/config",
                                     R"("sw_version":"radiosim 1.0")"))
      << bridge_->errors();
  const Configs found = configs("homeassistant/+/" + node + "/+/config");
  ASSERT_EQ(found.size(), std::size(kUses));
  std::map<std::string, Json> by_object;
  for (const auto &[topic, config] : found) {
    Words level;  // homeassistant, COMPONENT, NODE, OBJECT, config
    std::istringstream levels(topic);
    for (std::string part; std::getline(levels, part, '/');) level.push_back(part);
    by_object[level[3]] = config;
    for (const std::string &key : kRequired.at(level[1]))
      EXPECT_TRUE(config.contains(key)) << topic << " lacks " << key;
    EXPECT_EQ(config["unique_id"], node + "_" + level[3]);
    EXPECT_EQ(config["device"]["identifiers"], Json{node});
    EXPECT_EQ(config["device"]["model"], "radiosim");
    EXPECT_EQ(config["availability_mode"], "all");
  }

  const std::string state = "radioline/dash/20/state";
  std::vector<std::pair<Json, Json>> unknown, commands;
  for (const Use &use : kUses) {
    const Json &config = by_object.at(use.object);
    if (config.contains("command_template")) {
      unknown.emplace_back(config["value_template"], Json{{"value_json", retainedJson(state)}});
      commands.emplace_back(config["command_template"], Json{{"value", use.value}});
    } else if (config.contains("payload_press")) {
      commands.emplace_back(config["payload_press"], Json::object());
    }
  }
  EXPECT_EQ(render(unknown), Words(unknown.size(), "None"));
  std::string lines;
  for (const std::string &command : render(commands)) lines += command + "\n";
  runClient("mosquitto_pub",
            joined({broker_->login(kAdminUser),
                    {"-t", by_object["frequency"]["command_topic"], "-q", "1", "-l"}}),
            lines);
  std::vector<std::pair<Json, Json>> shown;
  Words expected;
  for (const Use &use : kUses) {
    if (use.heard != nullptr)
      EXPECT_TRUE(sim.waitForOutput(use.heard)) << use.heard << "\n" << lines;
  }
  ASSERT_TRUE(broker_->retainedHolds(state, R"("offset":-600000)"));
  for (const Use &use : kUses) {
    if (use.shown.is_null()) continue;
    shown.emplace_back(by_object[use.object]["value_template"],
                       Json{{"value_json", retainedJson(state)}});
    expected.push_back(use.shown.get<std::string>());
  }
  EXPECT_EQ(render(shown), expected);

  // The radio greys out when the line is lost and when the bridge stops.
  const Json line = by_object["version"]["availability"][0];
  const auto line_shows = [&] {
    return render({{line["value_template"], Json{{"value_json", retainedJson(line["topic"])}}}});
  };
  EXPECT_EQ(line_shows(), Words{"online"});
  sim.stop(SIGKILL);
  ASSERT_TRUE(broker_->retainedHolds(line["topic"], R"("line":"lost")"));
  EXPECT_EQ(line_shows(), Words{"offline"});
  bridge_->stop(SIGTERM);
  EXPECT_EQ(line_shows(), Words{"offline"});
}

TEST_F(DiscoveryTest, ClearsOnlyAnnouncementsOfItsOwnStaleNodes) {
  // A radio no longer served, an entity no longer announced, and two that are not the line's.
  const Words stale{"homeassistant/number/radioline_dr_p_22/frequency/config",
                    "homeassistant/sensor/radioline_dr_p_20/old/config"};
  const Words foreign{"homeassistant/sensor/radioline_dr_p_200/version/config",
                      "homeassistant/sensor/other/version/config"};
  for (const std::string &topic : joined({stale, foreign}))
    runClient("mosquitto_pub",
              joined({broker_->login(kBridgeUser), {"-r", "-t", topic, "-m", "{}"}}));
  startBridge({"--simulate", "--name", "dröp"});
  const auto cleared = [&] {
    const Configs all = configs("homeassistant/#");
    return all.size() == std::size(kUses) + foreign.size() &&
           all.count(stale[0]) + all.count(stale[1]) == 0;
  };
  EXPECT_TRUE(pollFor(10, cleared)) << bridge_->errors();
  EXPECT_EQ(broker_->retained(foreign[0]), "{}\n");
  bridge_->stop(SIGTERM);

  startBridge({"--simulate", "--name", "dröp", "--no-discovery"});
  EXPECT_TRUE(pollFor(10, [&] { return configs("homeassistant/#").size() == foreign.size(); }))
      << bridge_->errors();
  EXPECT_EQ(broker_->retained(foreign[1]), "{}\n");
}

}  // namespace
