// SPDX-License-Identifier: MIT
// radiobridge end to end: a real mosquitto, radiosim on the line, radioctl and the mosquitto
// clients as users.
#include <gtest/gtest.h>

#include <csignal>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>

#include "broker.h"

namespace {

using Json = nlohmann::json;
using Codes = std::map<std::string, std::string>;

const std::string kStatus = "radioline/bus/status";
const std::string kRequest = "radioline/bus/20/request";
const std::string kState = "radioline/bus/20/state";

// The error code of the JSON reply in `text`, "" when it has none; throws when it is no JSON.
std::string codeOf(const std::string &text) {
  return Json::parse(text).value(Json::json_pointer("/error/code"), "");
}

// A broker, radiosim behind a link of the line's device, and the bridge on
// that device as line "bus".
class BridgeTest : public ::testing::Test {
 protected:
  // Listens to the replies to requests without a response topic (from
  // before the bridge starts, so a stray one counts), then starts radiosim
  // with `sim_options` and the bridge with `options`; waits until the bridge
  // is online (so subscribed) and has read the radio.
  void start(const Words &options = {}, const Words &sim_options = {}) {
    replies_.emplace(broker_, "radioline/bus/20/response");
    startSim(sim_options);
    startBridge(options);
    ASSERT_TRUE(broker_.retainedHolds(kState, R"("available":true)")) << bridge_->errors();
  }
  void startSim(const Words &args) { sim_.emplace(joined({args, {"--link", link_, "--stay"}})); }
  void startBridge(const Words &options) {
    bridge_.emplace(
        RADIOBRIDGE_PATH,
        joined({{"-d", link_, "--name", "bus"}, credentials(kBridgeUser, kBridgeUser), options}));
  }

  // mosquitto_pub sends `payload` to radio 20 as `user`: as one message
  // with -s in `args`, a message per line with -l.
  void publish(const std::string &payload, const Words &args = {"-s"},
               const std::string &user = kClientUser) const {
    runClient("mosquitto_pub", joined({broker_.login(user), {"-t", kRequest, "-q", "1"}, args}),
              payload);
  }
  // The broker options of the bridge and radioctl: as `user` with the
  // password of `password_user`, and the CA over TLS.
  Words credentials(const std::string &user, const std::string &password_user) const {
    return joined({{"--broker", broker_.address(tls_), "--user", user, "--password-file",
                    broker_.passwordFile(password_user)},
                   tls_ ? Words{"--cafile", broker_.caFile()} : Words{}});
  }
  // radioctl with `args` through the bridge as the client, with the
  // password of `password_user`.
  ClientRun radioctl(const Words &args, const std::string &input = {},
                     const std::string &password_user = kClientUser) const {
    return runClient(RADIOCTL_PATH,
                     joined({{"--line", "bus"}, credentials(kClientUser, password_user), args}),
                     input);
  }

  // Each transaction's reply codes so far, ';' after each.
  Codes replyCodes() const {
    Codes codes;
    for (const std::string &reply : replies_->messages())
      codes[Json::parse(reply).value("transaction", "")] += codeOf(reply) + ';';
    return codes;
  }

  bool tls_ = true;  // the bridge and radioctl connect over TLS
  TempDir dir_;
  std::string link_ = dir_.file("radio");
  Broker broker_;
  std::optional<SimProcess> sim_;
  std::optional<Process> bridge_;
  std::optional<Subscriber> replies_;
};

TEST_F(BridgeTest,
       AnswersEachRequestOnceRunsOnlyValidLiveOnesFromAllowedUsersAndWaitsOutTheTimeout) {
  publish("set-freq 146.52M", {"-s", "-r"});  // retained before the bridge subscribes
  start({"--keepalive", "5", "--request-expiry", "1"}, {"--delay-ms", "700"});
  publish(std::string(1 << 20, 'a'));
  publish("get-offset", {"-s", "-D", "publish", "response-topic", kState});
  publish("set-freq 147.52M", {"-s", "-r"});
  publish("set-freq 147.25M", {"-s"}, kOutsiderUser);
  ASSERT_TRUE(replies_->waitForMessages(3)) << bridge_->errors();
  EXPECT_EQ(broker_.retained(kRequest), "");

  // Twelve exchanges of 0.7 s (a setter of a readable value makes two) keep
  // the worker busy longer than 1.5 keepalives; the last two requests, living
  // one second, expire behind them.
  publish(
      "get-offset\nget-split\nget-config\nget-offset\n"
      "set-offset 600k\nset-split 1 2\nset-split 3 4\nset-offset -600k\n",
      {"-l", "-D", "publish", "message-expiry-interval", "30"});
  publish(R"({"command":"set-freq 146.52M","transaction":"own"})",
          {"-s", "-D", "publish", "message-expiry-interval", "1"});
  publish(R"({"command":"set-freq 147.52M","transaction":"default"})", {"-s", "-V", "311"});
  ASSERT_TRUE(replies_->waitForMessages(13, 20)) << bridge_->errors();
  EXPECT_EQ(
      replyCodes(),
      (Codes{{"", "usage;usage;usage;;;;;;;;;"}, {"own", "expired;"}, {"default", "expired;"}}));
  // Only the read-back after the last setter shows its value.
  EXPECT_TRUE(broker_.retainedHolds(kState, R"("offset":-600000)"));
  EXPECT_TRUE(waitForErrors(*bridge_, "radio 20 set-offset -600k: ok ("));
  EXPECT_EQ(broker_.log().find("exceeded timeout"), std::string::npos) << broker_.log();

  const std::pair<Words, std::string> runs[] = {
      {{"set-offset", "-600k", "get-offset"}, ""},
      {{"--json", "-"}, "set-offset -600k\n# read it back\nget-offset\n"}};
  for (const auto &[args, input] : runs) {
    const ClientRun bridged = radioctl(args, input);
    EXPECT_EQ(bridged.status, 0) << bridged.err;
    EXPECT_EQ(bridged.out, runClient(RADIOCTL_PATH, joined({{"--simulate"}, args}), input).out);
  }

  const ClientRun lonely = radioctl({"--radio", "0x21", "--json", "get-offset"});  // unserved
  EXPECT_EQ(lonely.status, 1);
  EXPECT_EQ(codeOf(lonely.out), "no-bridge") << lonely.out;
  const ClientRun refused = radioctl({"get-offset"}, {}, kOutsiderUser);
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.err.find("refused the connection"), std::string::npos) << refused.err;
  Process refused_bridge(RADIOBRIDGE_PATH,
                         joined({{"-d", link_}, credentials(kBridgeUser, kOutsiderUser)}));
  EXPECT_EQ(refused_bridge.waitForExit(), 1);
  EXPECT_NE(refused_bridge.errors().find("refused the bridge's credentials"), std::string::npos);
  for (const char *freq : {"146.52", "147.52", "147.25"})
    EXPECT_EQ(sim_->output().find(freq), std::string::npos) << freq << " was set";

  bridge_->stop(SIGKILL);
  EXPECT_TRUE(broker_.retainedHolds(kStatus, R"({"state":"offline"})"));
}

TEST_F(BridgeTest, AnswersBusyBeyondTheQueueAndWhenStoppedFinishesTheExchangeAndRefusesTheRest) {
  start({"--queue-size", "2"}, {"--delay-ms", "1000"});
  // While the first request reads back what it set, two more fill the queue
  // and two find it full.
  publish(R"({"command":"set-offset 100k","transaction":"0"})", {"-s", "-V", "311"});
  ASSERT_TRUE(sim_->waitForOutput("tx offset set to 100000"));
  std::ostringstream lines;
  for (int n = 1; n < 5; ++n) lines << R"({"command":"get-offset","transaction":")" << n << "\"}\n";
  publish(lines.str(), {"-l", "-V", "311"});
  ASSERT_TRUE(replies_->waitForMessages(2));  // the busy ones
  EXPECT_EQ(bridge_->stop(SIGTERM), 0) << bridge_->errors();
  ASSERT_TRUE(replies_->waitForMessages(5)) << bridge_->errors();
  const Codes expected{
      {"0", ";"}, {"1", "shutting-down;"}, {"2", "shutting-down;"}, {"3", "busy;"}, {"4", "busy;"}};
  EXPECT_EQ(replyCodes(), expected);
  EXPECT_TRUE(broker_.retainedHolds(kStatus, R"({"state":"offline"})"));
}

TEST_F(BridgeTest, OutlastsABrokerDownAtStartALostLineAndABrokerRestart) {
  tls_ = false;  // a refused plain connection is what logs "broker lost" at once
  broker_.stop();
  startSim({"--version-text", "first"});
  startBridge({"--heartbeat", "1"});
  ASSERT_TRUE(waitForErrors(*bridge_, "broker lost"));
  ASSERT_TRUE(broker_.start());
  EXPECT_TRUE(broker_.retainedHolds(kState, R"("version":"first")")) << bridge_->errors();

  sim_->stop(SIGKILL);
  EXPECT_TRUE(broker_.retainedHolds(kStatus, R"("line":"lost")"));
  EXPECT_EQ(codeOf(radioctl({"--json", "get-offset"}).out), "line-lost");
  startSim({"--version-text", "second"});
  EXPECT_TRUE(broker_.retainedHolds(kStatus, R"("line":"open")")) << bridge_->errors();
  EXPECT_TRUE(broker_.retainedHolds(kState, R"("version":"second")"));

  // A new broker holds nothing retained: what shows was published again.
  broker_.stop();
  ASSERT_TRUE(broker_.start());
  EXPECT_TRUE(broker_.retainedHolds(kStatus, R"("state":"online")")) << bridge_->errors();
  EXPECT_TRUE(broker_.retainedHolds(kState, R"("version":"second")"));
  EXPECT_EQ(radioctl({"get-offset"}).status, 0);
}

}  // namespace
