// SPDX-License-Identifier: MIT
// Many sites: radiobridge on a site's broker, its users on a central broker linked to it by
// mosquitto's own bridge as the example configuration links them (MQTT 5, each topic one way),
// each broker under its example ACL; and the bridge's metrics, read on the central broker.
#include <gtest/gtest.h>

#include <csignal>
#include <nlohmann/json.hpp>

#include "broker.h"

namespace {

using Json = nlohmann::json;

const std::string kBus = "radioline/bus/";
const std::string kAliceRequest = kBus + "20/request/alice";

class SitesTest : public ::testing::Test {
 protected:
  // The bridge with radiosim on the site broker as line "bus"; waits until the central broker
  // shows the radio read.
  void SetUp() override {
    bridge_.emplace(RADIOBRIDGE_PATH,
                    Words{"--simulate", "--name", "bus", "--broker", site_.address(), "--user",
                          kBridgeUser, "--password-file", site_.passwordFile(kBridgeUser)});
    ASSERT_TRUE(central_.retainedHolds(kBus + "20/state", R"("available":true)"))
        << bridge_->errors();
  }
  ClientRun radioctl(const Words &args) const {
    return runClient(RADIOCTL_PATH,
                     joined({{"--line", "bus", "--broker", central_.address(), "--user", kAlice,
                              "--password-file", central_.passwordFile(kAlice)},
                             args}));
  }
  // mosquitto_rr: `command` as alice on the central broker, and the first reply within 1 s.
  std::string ask(const std::string &command, const Words &options = {}) const {
    const Words request{"-t", kAliceRequest, "-e", kBus + "reply/alice/rr",
                        "-m", command,       "-W", "1"};
    return runClient("mosquitto_rr", joined({central_.login(kAlice), request, options})).out;
  }

  Broker site_{"radioline-site.acl"};
  Broker central_{"radioline.acl", &site_};
  std::optional<Process> bridge_;
};

TEST_F(SitesTest, RequestsCrossTheLinkAndAnswerOnlyTheirUser) {
  const Subscriber bob(central_, {"-t", "radioline/#"}, kBob);
  EXPECT_EQ(radioctl({"set-offset", "-600k", "get-offset"}).out, "offset: -600000 Hz\n");
  // The panel's request: a response topic of its own, correlation data, the interim message.
  EXPECT_EQ(ask(R"({"command":"get-config","interim":true})",
                {"-F", "%D %p", "-D", "publish", "correlation-data", "7"}),
            "7 {\"command\":\"get-config\",\"queued\":true}\n");
  // Of all he may read, bob got the status and the state, none of alice's replies.
  ASSERT_FALSE(bob.messages().empty());
  for (const std::string &message : bob.messages())
    EXPECT_EQ(message.find("\"command\""), std::string::npos) << message;
}

TEST_F(SitesTest, KilledBridgeShowsOfflineOnTheCentralBroker) {
  bridge_->stop(SIGKILL);
  EXPECT_TRUE(central_.retainedHolds(kBus + "status", R"({"state":"offline")"));
  EXPECT_NE(radioctl({"get-offset"}).err.find("bridge of line bus is offline"), std::string::npos);
}

// The bridge reconnects a second after it lost its broker, the link one to two seconds after:
// with a few one-second tries on a busy machine, well within eight.
TEST_F(SitesTest, RestartedSiteBrokerServesAgainWithinTheReconnect) {
  site_.stop();
  ASSERT_TRUE(site_.start());
  EXPECT_TRUE(pollFor(8, [&] {
    return ask("get-offset").find("\"ok\":true") != std::string::npos;
  })) << bridge_->errors();
  EXPECT_TRUE(central_.retainedHolds(kBus + "metrics", R"("broker_reconnects":1)"));
}

// Two setters and a reader answered, a bad command.
TEST_F(SitesTest, MetricsCountAKnownMixOfRequests) {
  EXPECT_EQ(radioctl({"set-offset", "1k", "set-offset", "2k", "get-offset"}).status, 0);
  EXPECT_NE(ask("bogus").find("usage"), std::string::npos);
  EXPECT_EQ(bridge_->stop(SIGTERM), 0);
  ASSERT_TRUE(central_.retainedHolds(kBus + "metrics", R"("usage":1)"));
  const Json metrics = Json::parse(central_.retained(kBus + "metrics", kAlice));
  EXPECT_EQ(metrics.at("answered"), Json::parse(R"({"ok":3,"busy":0,"usage":1,"refused":0,
    "timeout":0,"line-lost":0,"failed":0,"unavailable":0,"expired":0,"shutting-down":0})"));
  EXPECT_EQ(metrics.at("queue"), Json::parse(R"({"now":0,"max":1})"));
  const Json &minute = metrics.at("last_minute"), &took = minute.at("exchange_ms");
  EXPECT_EQ(minute.at("requests"), 4);
  EXPECT_TRUE(took.at("median") >= 0 && took.at("median") <= took.at("p99")) << metrics;
}

}  // namespace
