// SPDX-License-Identifier: MIT
// radiobridge end to end: a real mosquitto with per-user rights, radiosim on the line, radioctl
// and the mosquitto clients as users.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>

#include "broker.h"

namespace {

using Json = nlohmann::json;

const std::string kStatus = "radioline/bus/status";
const std::string kRequest = "radioline/bus/20/request";
const std::string kState = "radioline/bus/20/state";

// The error code of the JSON reply in `text`, "" when it has none; throws when it is no JSON.
std::string codeOf(const std::string &text) {
  return Json::parse(text).value(Json::json_pointer("/error/code"), "");
}

// One JSON request a line: COMMAND with the transactions NAME1 to NAMEcount.
std::string requests(const std::string &name, int count, const std::string &command) {
  std::ostringstream lines;
  for (int n = 1; n <= count; ++n)
    lines << R"({"command":")" << command << R"(","transaction":")" << name << n << "\"}\n";
  return lines.str();
}

// A broker, radiosim behind a link of the line's device, and the bridge on
// that device as line "bus".
class BridgeTest : public ::testing::Test {
 protected:
  // Listens to the replies on the response topics and on alice's reply
  // topics (from before the bridge starts, so a stray one counts), then
  // starts radiosim with `sim_options` and the bridge with `options`; waits
  // until the bridge is online (so subscribed) and has read the radio.
  void start(const Words &options = {}, const Words &sim_options = {}) {
    replies_.emplace(broker_, Words{"radioline/bus/20/response/#", "radioline/bus/reply/alice/#"});
    startSim(sim_options);
    startBridge(options);
    ASSERT_TRUE(broker_.retainedHolds(kState, R"("available":true)")) << bridge_->errors();
  }
  void startSim(const Words &args) { sim_.emplace(joined({args, {"--link", link_, "--stay"}})); }
  void startBridge(const Words &options) {
    bridge_.emplace(RADIOBRIDGE_PATH, bridgeArgs(joined({{"-d", link_}, options})));
  }
  Words bridgeArgs(const Words &options, const std::string &password_user = kBridgeUser) const {
    return joined({{"--name", "bus"}, credentials(kBridgeUser, password_user), options});
  }

  // mosquitto_pub sends `payload` as `user` to `topic`: as one message
  // with -s in `args`, a message per line with -l.
  void publish(const std::string &payload, const Words &args = {"-s"},
               const std::string &user = kAdminUser, const std::string &topic = kRequest) const {
    runClient("mosquitto_pub", joined({broker_.login(user), {"-t", topic, "-q", "1"}, args}),
              payload);
  }
  // The broker options of the bridge and radioctl: as `user` with the
  // password of `password_user`, and the CA over TLS.
  Words credentials(const std::string &user, const std::string &password_user) const {
    return joined({{"--broker", broker_.address(tls_), "--user", user, "--password-file",
                    broker_.passwordFile(password_user)},
                   tls_ ? Words{"--cafile", broker_.caFile()} : Words{}});
  }
  // radioctl with `args` through the bridge of `line` as alice, with the
  // password of `password_user`.
  ClientRun radioctl(const Words &args, const std::string &input = {},
                     const std::string &password_user = kAlice,
                     const std::string &line = "bus") const {
    return runClient(RADIOCTL_PATH,
                     joined({{"--line", line}, credentials(kAlice, password_user), args}), input);
  }

  // The replies so far, in order: each its transaction (if any), a space and
  // its error code, or "ok".
  Words replies() const {
    Words found;
    for (const std::string &reply : replies_->messages()) {
      const std::string transaction = Json::parse(reply).value("transaction", "");
      const std::string code = codeOf(reply);
      found.push_back((transaction.empty() ? "" : transaction + " ") +
                      (code.empty() ? "ok" : code));
    }
    return found;
  }

  bool tls_ = true;  // the bridge and radioctl connect over TLS
  TempDir dir_;
  std::string link_ = dir_.file("radio");
  Broker broker_;
  std::optional<SimProcess> sim_;
  std::optional<Process> bridge_;
  std::optional<Subscriber> replies_;
};

TEST_F(BridgeTest, AnswersEachRequestOnceOnlyWhereItsSenderMayRead) {
  publish("set-freq 146.52M", {"-s", "-r"});  // retained before the bridge subscribes
  // Ten requests of one requester wait at once: a quarter of the queue is ten.
  start({"--keepalive", "5", "--request-expiry", "1", "--queue-size", "40"}, {"--delay-ms", "700"});
  publish(std::string(1 << 20, 'a'));
  publish("get-offset", {"-s", "-D", "publish", "response-topic", kState});
  publish("set-freq 147.52M", {"-s", "-r"});
  publish("set-freq 147.25M", {"-s"}, kBob);  // bob may not use the plain topic
  // On his own topic bob may not have the reply sent to alice.
  publish(R"({"command":"set-freq 147.25M","transaction":"forged"})",
          {"-s", "-D", "publish", "response-topic", "radioline/bus/reply/alice/4"}, kBob,
          kRequest + "/bob");
  ASSERT_TRUE(replies_->waitForMessages(4)) << bridge_->errors();
  EXPECT_EQ(broker_.retained(kRequest), "");
  EXPECT_EQ(broker_.retained("radioline/bus/20/response/#"), "") << "a reply was retained";

  // Twelve exchanges of 0.7 s (a setter of a readable value makes two) keep
  // the worker busy longer than 1.5 keepalives; the last two requests, living
  // one second, expire behind them. The plain topic may name any reply topic.
  publish("get-offset", {"-s", "-D", "publish", "response-topic", "radioline/bus/reply/alice/a"});
  publish(
      "get-split\nget-config\nget-offset\n"
      "set-offset 600k\nset-split 1 2\nset-split 3 4\nset-offset -600k\n",
      {"-l", "-D", "publish", "message-expiry-interval", "30"});
  publish(R"({"command":"set-freq 146.52M","transaction":"own"})",
          {"-s", "-D", "publish", "message-expiry-interval", "1"});
  publish(R"({"command":"set-freq 147.52M","transaction":"default"})", {"-s", "-V", "311"});
  ASSERT_TRUE(replies_->waitForMessages(14, 20)) << bridge_->errors();
  Words expected{"usage", "usage", "usage", "forged usage"};
  expected.insert(expected.end(), 8, "ok");
  expected.insert(expected.end(), {"own expired", "default expired"});
  EXPECT_EQ(replies(), expected);
  // Only the read-back after the last setter shows its value.
  EXPECT_TRUE(broker_.retainedHolds(kState, R"("offset":-600000)"));
  EXPECT_TRUE(waitForErrors(*bridge_, "radio 20 set-offset -600k: ok ("));
  EXPECT_EQ(broker_.log().find("exceeded timeout"), std::string::npos) << broker_.log();

  for (const char *freq : {"146.52", "147.52", "147.25"})
    EXPECT_EQ(sim_->output().find(freq), std::string::npos) << freq << " was set";
}

TEST_F(BridgeTest, SecondBridgeOnTheLineStopsWithoutPublishing) {
  start({"--keepalive", "5"});  // its status comes again within the second's watch
  // A second bridge on the line's device, and one on another device under
  // the line's name, stop without touching what the first one publishes.
  const std::string status = broker_.retained(kStatus);
  Process same_device(RADIOBRIDGE_PATH, bridgeArgs({"-d", link_}));
  Process same_name(RADIOBRIDGE_PATH, bridgeArgs({"--simulate", "--keepalive", "5"}));
  EXPECT_EQ(same_device.waitForExit(), 1);
  EXPECT_NE(same_device.errors().find("device busy: " + link_), std::string::npos);
  EXPECT_EQ(same_name.waitForExit(), 1);
  EXPECT_NE(same_name.errors().find("line bus is served by "), std::string::npos)
      << same_name.errors();
  EXPECT_EQ(broker_.retained(kStatus), status);
}

TEST_F(BridgeTest, RadioctlPrintsWhatItPrintsOnALine) {
  start();
  const std::pair<Words, std::string> runs[] = {
      {{"set-offset", "-600k", "get-offset"}, ""},
      {{"--json", "-"}, "set-offset -600k\n# read it back\nget-offset\n"}};
  for (const auto &[args, input] : runs) {
    const ClientRun bridged = radioctl(args, input);
    EXPECT_EQ(bridged.status, 0) << bridged.err;
    EXPECT_EQ(bridged.out, runClient(RADIOCTL_PATH, joined({{"--simulate"}, args}), input).out);
  }
}

TEST_F(BridgeTest, RadioctlGetsUsageForARadioTheLineLacks) {
  start();
  const ClientRun unserved = radioctl({"--radio", "0x21", "--json", "get-offset"});
  EXPECT_EQ(unserved.status, 1);
  EXPECT_EQ(codeOf(unserved.out), "usage") << unserved.out;
}

TEST_F(BridgeTest, RadioctlGetsNoBridgeForALineNoneServes) {
  const ClientRun nowhere = radioctl({"--json", "get-offset"}, {}, kAlice, "nowhere");
  EXPECT_EQ(codeOf(nowhere.out), "no-bridge");
  EXPECT_NE(nowhere.err.find("no bridge serves line nowhere"), std::string::npos) << nowhere.err;
}

TEST_F(BridgeTest, RadioctlWithARefusedLoginExitsOne) {
  const ClientRun refused = radioctl({"get-offset"}, {}, kBob);
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.err.find("refused the connection"), std::string::npos) << refused.err;
}

TEST_F(BridgeTest, BridgeWithARefusedLoginExitsOne) {
  Process refused_bridge(RADIOBRIDGE_PATH, bridgeArgs({"--simulate"}, kBob));
  EXPECT_EQ(refused_bridge.waitForExit(), 1);
  EXPECT_NE(refused_bridge.errors().find("refused the bridge's credentials"), std::string::npos);
}

// A status that replaced the bridge's own, a dead bridge's will, is replaced in turn.
TEST_F(BridgeTest, ReplacesAStatusThatReplacedItsOwn) {
  start();
  publish(R"({"state":"offline","instance":{"host":"ghost","pid":1,"started":1}})", {"-s", "-r"},
          kBridgeUser, kStatus);
  EXPECT_TRUE(broker_.retainedHolds(kStatus, R"("state":"online")"));
}

TEST_F(BridgeTest, KilledBridgeLeavesItsWillAsStatus) {
  start();
  bridge_->stop(SIGKILL);
  EXPECT_TRUE(broker_.retainedHolds(kStatus, R"({"state":"offline")"));
}

TEST_F(BridgeTest, HeartbeatZeroReadsTheRadioOnlyAtStart) {
  start({"--heartbeat", "0"});
  const auto reads = [this] {
    const std::string log = sim_->output();
    std::size_t count = 0;
    for (std::size_t at = log.find("version read"); at != std::string::npos;
         at = log.find("version read", at + 1))
      ++count;
    return count;
  };
  const std::size_t at_start = reads();
  publish("get-offset");  // wakes the worker, which must not beat on its way
  ASSERT_TRUE(replies_->waitForMessages(1)) << bridge_->errors();
  std::this_thread::sleep_for(std::chrono::milliseconds(1000));
  EXPECT_EQ(reads(), at_start) << sim_->output();
}

TEST_F(BridgeTest, QueueServesRequestersInTurnUntilStopped) {
  // A status a broker kept of a bridge long gone is watched for 1.5 keepalives, then taken over.
  runClient("mosquitto_pub",
            joined({broker_.login(kBridgeUser),
                    {"-r", "-t", kStatus, "-m",
                     R"({"state":"online","instance":{"host":"ghost","pid":1,"started":1}})"}}));
  start({"--queue-size", "12", "--keepalive", "5"}, {"--delay-ms", "700"});
  EXPECT_TRUE(waitForErrors(*bridge_, "ghost pid 1 stayed silent; taking line bus"));
  const std::string bob = kRequest + "/bob";
  const std::string alice = kRequest + "/alice";

  // While bob's first request reads back what it set, he floods the queue:
  // three of his wait (a quarter of it), the rest are busy, and alice's
  // three take turns with his.
  publish(R"({"command":"set-offset 100k","transaction":"b0"})", {"-s"}, kBob, bob);
  ASSERT_TRUE(sim_->waitForOutput("tx offset set to 100000"));
  publish(requests("b", 8, "get-offset"), {"-l"}, kBob, bob);
  publish(requests("a", 3, "get-offset"), {"-l"}, kAlice, alice);
  ASSERT_TRUE(replies_->waitForMessages(12, 20)) << bridge_->errors();
  Words served = replies();
  const auto busy = std::stable_partition(served.begin(), served.end(), [](const std::string &r) {
    return r.find(" busy") == std::string::npos;
  });
  EXPECT_EQ(Words(busy, served.end()),
            (Words{"b4 busy", "b5 busy", "b6 busy", "b7 busy", "b8 busy"}));
  served.erase(busy, served.end());
  EXPECT_EQ(served, (Words{"b0 ok", "b1 ok", "a1 ok", "b2 ok", "a2 ok", "b3 ok", "a3 ok"}));
  const std::string log = bridge_->errors();
  EXPECT_EQ(log.find(": busy ("), log.rfind(": busy (")) << log;  // the first busy alone

  // Stopped, it finishes the exchange in progress and refuses what waits.
  publish(R"({"command":"set-offset 200k","transaction":"c0"})", {"-s"}, kBob, bob);
  ASSERT_TRUE(sim_->waitForOutput("tx offset set to 200000"));
  publish(requests("c", 2, "get-offset"), {"-l"}, kAlice, alice);
  ASSERT_TRUE(waitForErrors(*bridge_, "radio 20 set-offset 200k: ok"));
  EXPECT_EQ(bridge_->stop(SIGTERM), 0) << bridge_->errors();
  ASSERT_TRUE(replies_->waitForMessages(15)) << bridge_->errors();
  const Words stopped = replies();
  EXPECT_EQ(Words(stopped.begin() + 12, stopped.end()),
            (Words{"c0 ok", "c1 shutting-down", "c2 shutting-down"}));
  EXPECT_TRUE(broker_.retainedHolds(kStatus, R"({"state":"offline")"));
  EXPECT_NE(radioctl({"get-offset"}).err.find("the bridge of line bus is offline"),
            std::string::npos);
}

TEST_F(BridgeTest, HealsAfterLosingTheBrokerOrTheLine) {
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
}

// The radio takes a setter only after its time-out, while the bridge's
// next request waits: the radio's state is read again, and right.
TEST_F(BridgeTest, SetterTakenAfterItsTimeoutLeavesTheStateRight) {
  startSim({});
  startBridge({"--heartbeat", "1"});  // the state is read again on the next beat
  ASSERT_TRUE(broker_.retainedHolds(kState, R"("version":)")) << bridge_->errors();
  sim_->signal(SIGSTOP);
  EXPECT_EQ(codeOf(radioctl({"--json", "set-offset", "-700k"}).out), "timeout");
  sim_->signal(SIGCONT);
  EXPECT_TRUE(broker_.retainedHolds(kState, R"("offset":-700000)")) << bridge_->errors();
  EXPECT_EQ(radioctl({"get-offset"}).out, "offset: -700000 Hz\n");
}

TEST_F(BridgeTest, OlderBridgeServingTheLineKeepsIt) {
  startSim({});
  startBridge({});
  ASSERT_TRUE(broker_.retainedHolds(kStatus, R"("state":"online")")) << bridge_->errors();
  publish(R"({"state":"online","instance":{"host":"elder","pid":1,"started":1}})", {"-s"},
          kBridgeUser, kStatus);
  EXPECT_EQ(bridge_->waitForExit(), 1);
  EXPECT_NE(bridge_->errors().find("line bus is served by elder pid 1"), std::string::npos);
}

TEST(Bridge, RateTheLineCannotTakeStopsItBeforeTheBroker) {
  Process bridge(RADIOBRIDGE_PATH, {"--simulate", "-b", "19201", "--broker", "127.0.0.1:1"});
  EXPECT_EQ(bridge.waitForExit(), 1);
  EXPECT_NE(bridge.errors().find(": cannot run at 19201 baud (Invalid argument)"),
            std::string::npos)
      << bridge.errors();
  EXPECT_EQ(bridge.errors().find("broker"), std::string::npos) << bridge.errors();
}

TEST(Bridge, HelpOrVersionThatCannotBeWrittenExitsOne) {
  for (const char *option : {" --help", " --version"}) {
    Process run("/bin/sh", {"-c", RADIOBRIDGE_PATH + std::string(option) + " >/dev/full"});
    EXPECT_EQ(run.waitForExit(), 1) << option;
  }
}

}  // namespace
