// SPDX-License-Identifier: MIT
// radiobridge's dashboard announcements on a real mosquitto, their templates rendered by Jinja2.
#include <gtest/gtest.h>

#include <csignal>
#include <nlohmann/json.hpp>
#include <sstream>

#include "broker.h"

namespace {

using Json = nlohmann::json;

// Each entity in a recall's order: the value the hub sends (none for a
// button or sensor), what radiosim logs then and what the entity shows.
const Json kUses = Json::parse(R"([
  ["store_vfo", null, " stored", null], ["recall_mode", null, " recalled", null],
  ["mode_slot", 3.0, "mode 3 selected", "3"],
  ["frequency", 145500000.0, "VFO set to 145.500000 MHz", "145500000"],
  ["duplex", 17, "duplex set to 11", "17"], ["tx_tone", 88.5, "tx PL set to 88.5", "88.5"],
  ["rx_tone", 100, "rx PL set to 100.0", "100.0"],
  ["tx_offset", -600000.0, "tx offset set to -600000", "-600000"],
  ["version", null, null, "radiosim 1.0"], ["codeplug", null, null, "00000000000000000000000000000000"],
  ["split", null, null, "0 / 0 Hz"]])");
// The keys the hub requires of each component.
const Json kRequired = Json::parse(R"({"number": ["command_topic", "command_template",
  "state_topic", "value_template"], "button": ["command_topic", "payload_press"],
  "sensor": ["state_topic", "value_template"]})");

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
  // The retained configurations under NODE, by NODE/OBJECT, with their COMPONENT added.
  static Json configs(const std::string &node = "+") {
    const Words once{
        "--retained-only", "-v", "-W", "1", "-t", "homeassistant/+/" + node + "/+/config"};
    std::istringstream lines(
        runClient("mosquitto_sub", joined({broker_->login(kAdminUser), once})).out);
    Json found = Json::object();
    for (std::string topic, payload; lines >> topic && std::getline(lines, payload);) {
      const std::size_t node_at = topic.find('/', 14) + 1;
      Json &config = found[topic.substr(node_at, topic.rfind('/') - node_at)];
      config = Json::parse(payload);
      config["component"] = topic.substr(14, node_at - 15);
    }
    return found;
  }
  static Json retained(const std::string &topic) { return Json::parse(broker_->retained(topic)); }
  // Each [template, variables] rendered as the hub renders it.
  static Words render(const Json &jobs) {
    std::string input;
    for (const Json &job : jobs) input += job.dump() + "\n";
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
  startBridge({"-d", sim.slavePath(), "--name", "dash", "--heartbeat", "1"});
  const std::string node = "radioline_dash_20";
  ASSERT_TRUE(broker_->retainedHolds(
      "homeassistant/sensor/" + node + "/version/config",
      R"("name":"Radio 20 on dash","manufacturer":"radioline","sw_version":"radiosim 1.0","model":"radiosim")"));
  Json found = configs(node);
  ASSERT_EQ(found.size(), kUses.size());
  for (const auto &[object, config] : found.items()) {
    for (const Json &key : kRequired[config["component"].get<std::string>()])
      EXPECT_TRUE(config.contains(key.get<std::string>())) << object << " lacks " << key;
    EXPECT_EQ(config["unique_id"], node + "_" + object.substr(node.size() + 1));
    EXPECT_EQ(config["device"]["identifiers"], Json{node});
  }
  const auto at = [&](const Json &object) -> Json & {
    return found[node + "/" + object.get<std::string>()];
  };

  const Json state = retained("radioline/dash/20/state");
  Json unknown, commands, shown;
  std::string lines;
  for (const Json &use : kUses) {
    const Json &config = at(use[0]);
    if (!use[1].is_null()) unknown.push_back({config["value_template"], {{"value_json", state}}});
    if (!use[1].is_null()) commands.push_back({config["command_template"], {{"value", use[1]}}});
    if (config.contains("payload_press"))
      commands.push_back({config["payload_press"], Json::object()});
  }
  // Unknown until set: all but the offset, which was read.
  EXPECT_EQ(render(unknown), (Words{"None", "None", "None", "None", "None", "0"}));
  for (const std::string &command : render(commands)) lines += command + "\n";
  runClient(
      "mosquitto_pub",
      joined({broker_->login(kAdminUser), {"-t", at("duplex")["command_topic"], "-q", "1", "-l"}}),
      lines);
  for (const Json &use : kUses) {
    EXPECT_TRUE(use[2].is_null() || sim.waitForOutput(use[2].get<std::string>())) << lines;
  }
  ASSERT_TRUE(broker_->retainedHolds("radioline/dash/20/state", R"("offset":-600000)"));
  Words expected;
  for (const Json &use : kUses) {
    if (use[3].is_null()) continue;
    shown.push_back(
        {at(use[0])["value_template"], {{"value_json", retained("radioline/dash/20/state")}}});
    expected.push_back(use[3].get<std::string>());
  }
  EXPECT_EQ(render(shown), expected);

  // The device greys out when the line is lost and when the bridge stops.
  const Json line = at("version")["availability"][0];
  const auto line_shows = [&] {
    return render(Json::array(
        {Json::array({line["value_template"], {{"value_json", retained(line["topic"])}}})}));
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
  for (const char *node_object : {"radioline_dr_p_22/frequency", "radioline_dr_p_20/old",
                                  "radioline_dr_p_200/version", "other/version"})
    runClient("mosquitto_pub",
              joined({broker_->login(kBridgeUser),
                      {"-r", "-t", "homeassistant/sensor/" + std::string(node_object) + "/config",
                       "-m", "{}"}}));
  const auto kept = [](const Json &found) {
    return found.contains("other/version") && found.contains("radioline_dr_p_200/version");
  };
  startBridge({"--simulate", "--name", "dröp"});
  EXPECT_TRUE(pollFor(10, [&] { return configs().size() == kUses.size() + 2; }))
      << bridge_->errors();
  const Json found = configs();
  EXPECT_TRUE(kept(found));
  EXPECT_FALSE(found.contains("radioline_dr_p_22/frequency") ||
               found.contains("radioline_dr_p_20/old"));
  bridge_->stop(SIGTERM);

  startBridge({"--simulate", "--name", "dröp", "--no-discovery"});
  EXPECT_TRUE(pollFor(10, [&] { return configs().size() == 2; })) << bridge_->errors();
  EXPECT_TRUE(kept(configs()));
}

}  // namespace
