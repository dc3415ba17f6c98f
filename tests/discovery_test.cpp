// SPDX-License-Identifier: MIT
// radiobridge's dashboard announcements on a real mosquitto, their templates rendered by Jinja2.
#include <gtest/gtest.h>

#include <csignal>
#include <nlohmann/json.hpp>
#include <sstream>

#include "broker.h"

namespace {

using Json = nlohmann::json;

// Each entity in a recall's order: its component, the value the hub sends
// (none for a button or sensor), what radiosim logs then and what it shows.
const Json kUses = Json::parse(R"([
  ["store_vfo", "button", null, " stored", null], ["recall_mode", "button", null, " recalled", null],
  ["mode_slot", "number", 3.0, "mode 3 selected", "3"],
  ["frequency", "number", 145500000.0, "VFO set to 145.500000 MHz", "145500000"],
  ["duplex", "number", 17, "duplex set to 11", "17"],
  ["tx_tone", "number", 88.5, "tx PL set to 88.5", "88.5"],
  ["rx_tone", "number", 100, "rx PL set to 100.0", "100.0"],
  ["tx_offset", "number", -600000.0, "tx offset set to -600000", "-600000"],
  ["version", "sensor", null, null, "radiosim 1.0"], ["split", "sensor", null, null, "0 / 0 Hz"],
  ["codeplug", "sensor", null, null, "00000000000000000000000000000000"]])");
// One broker for the file; each test serves a line of its own.
class DiscoveryTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { broker = new Broker; }
  static void TearDownTestSuite() { delete broker; }

  void startBridge(const Words &options) {
    bridge_.emplace(RADIOBRIDGE_PATH,
                    joined({{"--broker", broker->address(), "--user", kBridgeUser,
                             "--password-file", broker->passwordFile(kBridgeUser)},
                            options}));
  }
  // The retained configurations under NODE, by topic.
  static Json configs(const std::string &node = "+") {
    const Words once{
        "--retained-only", "-v", "-W", "1", "-t", "homeassistant/+/" + node + "/+/config"};
    std::istringstream lines(
        runClient("mosquitto_sub", joined({broker->login(kAdminUser), once})).out);
    Json found = Json::object();
    for (std::string topic, payload; lines >> topic && std::getline(lines, payload);)
      found[topic] = Json::parse(payload);
    return found;
  }
  static Json retained(const std::string &topic) { return Json::parse(broker->retained(topic)); }
  // Each template rendered as the hub renders it, with its own variables or all with the same.
  static Json render(const Json &templates, const Json &variables) {
    Json jobs = Json::array();
    for (std::size_t i = 0; i < templates.size(); ++i)
      jobs.push_back({templates[i], variables.is_array() ? variables[i] : variables});
    return Json::parse(runClient("/usr/bin/python3", {HUB_RENDER_PATH}, jobs.dump()).out);
  }

  static Broker *broker;
  std::optional<Process> bridge_;
};

Broker *DiscoveryTest::broker = nullptr;

TEST_F(DiscoveryTest, AnnouncedEntitiesWorkAsTheHubRendersThem) {
  SimProcess sim({"--stay"});
  startBridge({"-d", sim.slavePath(), "--name", "dash", "--heartbeat", "1"});
  const std::string node = "radioline_dash_20", state = "radioline/dash/20/state";
  ASSERT_TRUE(broker->retainedHolds(
      "homeassistant/sensor/" + node + "/version/config",
      R"("name":"Radio 20 on dash","manufacturer":"radioline","sw_version":"radiosim 1.0","model":"radiosim")"));
  Json found = configs(node), numbers, commands, values, shown, expected;
  ASSERT_EQ(found.size(), kUses.size());
  for (const Json &use : kUses) {
    const std::string object = use[0];
    Json &config =
        found["homeassistant/" + use[1].get<std::string>() + "/" + node + "/" + object + "/config"];
    // What the hub requires: a command topic, or a sensor's state topic.
    EXPECT_EQ(config[use[1] == "sensor" ? "state_topic" : "command_topic"],
              use[1] == "sensor" ? state : "radioline/dash/20/request");
    EXPECT_EQ(config["unique_id"], node + "_" + object);
    EXPECT_EQ(config["device"]["identifiers"], Json::array({node}));
    EXPECT_EQ(config.value("entity_category", ""), use[1] == "sensor" ? "diagnostic" : "");
    if (!use[2].is_null()) numbers.push_back(config["value_template"]);
    if (config.contains("command_topic")) {
      commands.push_back(config.value("command_template", config["payload_press"]));
      values.push_back({{"value", use[2]}});
    }
    if (!use[4].is_null()) shown.push_back(config["value_template"]);
    if (!use[4].is_null()) expected.push_back(use[4]);
  }
  // Unknown until set, but for the offset, which was read.
  EXPECT_EQ(render(numbers, {{"value_json", retained(state)}}),
            Json({"None", "None", "None", "None", "None", "0"}));
  std::string lines;
  for (const std::string command : render(commands, values)) lines += command + "\n";
  const Words publish{"-t", "radioline/dash/20/request", "-q", "1", "-l"};
  runClient("mosquitto_pub", joined({broker->login(kAdminUser), publish}), lines);
  for (const Json &use : kUses) EXPECT_TRUE(use[3].is_null() || sim.waitForOutput(use[3])) << lines;
  ASSERT_TRUE(broker->retainedHolds(state, R"("offset":-600000)"));
  EXPECT_EQ(render(shown, {{"value_json", retained(state)}}), expected);

  // The device greys out when the line is lost and when the bridge stops.
  const Json line = found["homeassistant/sensor/" + node + "/version/config"]["availability"][0];
  const auto shows = [&] {
    return render(Json::array({line["value_template"]}), {{"value_json", retained(line["topic"])}});
  };
  EXPECT_EQ(shows(), Json({"online"}));
  sim.stop(SIGKILL);
  ASSERT_TRUE(broker->retainedHolds(line["topic"], R"("line":"lost")"));
  EXPECT_EQ(shows(), Json({"offline"}));
  bridge_->stop(SIGTERM);
  EXPECT_EQ(shows(), Json({"offline"}));
}

TEST_F(DiscoveryTest, ClearsOnlyAnnouncementsOfItsOwnStaleNodes) {
  // The line "az-AZ_09ö" keeps the edges of each kept class and makes ö one _.
  const auto topic = [](const std::string &node_object) {
    return "homeassistant/sensor/radioline_" + node_object + "/config";
  };
  // A radio no longer served, an entity no longer announced, and two that are not the line's.
  const Words stale{topic("az-AZ_09__22/frequency"), topic("az-AZ_09__20/old")};
  const Words foreign{topic("az-AZ_09__200/version"), topic("az-AZ_09_/version")};
  // One the bridge announces again: an earlier run's copy is replaced, not cleared.
  const std::string current = topic("az-AZ_09__20/version");
  for (const std::string &planted : joined({stale, foreign, {current}}))
    runClient("mosquitto_pub",
              joined({broker->login(kBridgeUser), {"-r", "-t", planted, "-m", "{}"}}));
  const auto kept = [&](const Json &found) {
    return found.contains(foreign[0]) && found.contains(foreign[1]);
  };
  startBridge({"--simulate", "--name", "az-AZ_09ö"});
  EXPECT_TRUE(pollFor(10, [&] { return configs().size() == kUses.size() + 2; }))
      << bridge_->errors();
  const Json found = configs();
  EXPECT_TRUE(kept(found));
  EXPECT_FALSE(found.contains(stale[0]) || found.contains(stale[1]));
  EXPECT_TRUE(found.contains(current) && found[current].contains("unique_id"));
  bridge_->stop(SIGTERM);

  startBridge({"--simulate", "--name", "az-AZ_09ö", "--no-discovery"});
  EXPECT_TRUE(pollFor(10, [&] { return configs().size() == 2; })) << bridge_->errors();
  EXPECT_TRUE(kept(configs()));
}

}  // namespace
