// SPDX-License-Identifier: MIT
// radiobridge end to end: a real mosquitto, radiosim on the line, radioctl and the mosquitto
// clients as users.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <iterator>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "broker.h"

namespace {

using Json = nlohmann::json;
using Words = std::vector<std::string>;

const std::string kLine = "radioline/bus";
const std::string kStatus = kLine + "/status";
const std::string kRequest = kLine + "/20/request";
const std::string kResponse = kLine + "/20/response";
const std::string kState = kLine + "/20/state";
const std::string kReplyTopic = kLine + "/reply/test";
const std::string kOffline = R"({"state":"offline"})";

Words joined(Words head, const Words &tail) {
  head.insert(head.end(), tail.begin(), tail.end());
  return head;
}

// The JSON value of `text`, or an empty object when it is none.
Json jsonOf(const std::string &text) {
  const Json value = Json::parse(text, nullptr, false);
  return value.is_discarded() ? Json::object() : value;
}

std::string codeOf(const Json &reply) {
  return reply.contains("error") ? reply["error"].value("code", "") : "";
}

// A broker, radiosim behind a link of the line's device, and the bridge on
// that device as line "bus".
class BridgeTest : public ::testing::Test {
 protected:
  // radiosim with `sim_options`, then the bridge with `options`; waits until
  // the bridge is online (so subscribed) and has read the radio.
  void start(const Words &options = {}, const Words &sim_options = {}) {
    startSim(sim_options);
    startBridge(options);
    ASSERT_TRUE(broker_.retainedHolds(kState, R"("available":true)"))
        << bridge_->errors() << broker_.log();
  }
  void startSim(const Words &options = {}) {
    sim_.emplace(joined(options, {"--link", link_, "--stay"}));
    ASSERT_TRUE(sim_->started());
  }
  void startBridge(const Words &options = {}) {
    bridge_.emplace(
        RADIOBRIDGE_PATH,
        joined(joined({"-d", link_, "--name", "bus"}, credentials(kBridgeUser)), options));
  }

  // mosquitto_rr sends `payload` to radio 20 as the client and waits for
  // the reply on `response` (an MQTT 5 response topic unless -V 311 is in
  // `options`).
  ClientRun ask(const std::string &payload, const Words &options = {},
                const std::string &response = kReplyTopic) const {
    const Words args{"-t", kRequest, "-e", response, "-q", "1", "-W", "10", "-m", payload};
    return runClient("mosquitto_rr",
                     joined(joined(broker_.login(kClientUser, tls_), args), options));
  }
  // mosquitto_pub sends each line of `lines` to radio 20 as `user`, or
  // all of it as one message with "-s" in `options`.
  void publish(const std::string &lines, const Words &options = {},
               const std::string &user = kClientUser) const {
    const bool whole = std::find(options.begin(), options.end(), "-s") != options.end();
    runClient("mosquitto_pub",
              joined(joined(broker_.login(user), {"-t", kRequest, "-q", "1"}),
                     whole ? options : joined(options, {"-l"})),
              lines);
  }
  // The broker, user and password file (and CA) options of the bridge and radioctl.
  Words credentials(const std::string &user) const {
    Words options{"--broker", broker_.address(tls_), "--user",
                  user,       "--password-file",     broker_.passwordFile(user)};
    if (tls_) options.insert(options.end(), {"--cafile", broker_.caFile()});
    return options;
  }
  // radioctl's options that reach the bridge of `line` through the broker as the client.
  Words remote(const std::string &line = "bus") const {
    return joined({"--line", line}, credentials(kClientUser));
  }
  // Whether radiosim has heard a frame whose log line holds `text`.
  bool radioHeard(const std::string &text) const {
    return sim_->output().find(text) != std::string::npos;
  }

  bool tls_ = false;  // the bridge and the clients connect over TLS
  TempDir dir_;
  std::string link_ = dir_.file("radio");
  Broker broker_;
  std::optional<SimProcess> sim_;
  std::optional<Process> bridge_;
};

std::vector<Json> repliesOf(const Subscriber &subscriber) {
  std::vector<Json> replies;
  for (const std::string &payload : subscriber.messages()) replies.push_back(jsonOf(payload));
  return replies;
}

TEST_F(BridgeTest, AnswersEveryRequestOnceAndRunsOnlyValidLiveOnesFromAllowedUsers) {
  publish("set-freq 146.52M", {"-r"});  // retained before the bridge subscribes
  start();
  Subscriber replies(broker_, kResponse);
  const std::pair<std::string, Words> refused[] = {
      {"\xff\xfe get-offset", {}},  // not UTF-8
      {std::string(1 << 20, 'a'), {}},
      {"get-offset", {"-D", "publish", "response-topic", kState}},
      {"set-freq 147.52M", {"-r"}},
  };
  for (const auto &[payload, options] : refused) publish(payload, joined({"-s"}, options));
  publish("set-freq 147.25M", {}, kOutsiderUser);
  ASSERT_TRUE(replies.waitForMessages(std::size(refused))) << bridge_->errors();
  for (const Json &reply : repliesOf(replies)) EXPECT_EQ(codeOf(reply), "usage") << reply;
  EXPECT_EQ(
      jsonOf(ask(R"({"command":"get-offset","transaction":"t-9"})", {"-V", "311"}, kResponse).out),
      jsonOf(R"({"command":"get-offset","ok":true,"offset":0,"transaction":"t-9"})"));
  EXPECT_TRUE(replies.waitForMessages(std::size(refused) + 1));
  EXPECT_EQ(replies.messages().size(), std::size(refused) + 1) << "one reply each";
  EXPECT_FALSE(radioHeard("146.52") || radioHeard("147.52") || radioHeard("147.25"))
      << sim_->output();
  EXPECT_EQ(broker_.retained(kRequest), "");

  const ClientRun run =
      ask("set-offset -600k", {"-D", "publish", "correlation-data", "c-17", "-F", "%t %D %p"});
  EXPECT_EQ(run.out, kReplyTopic + R"( c-17 {"command":"set-offset","ok":true})" + "\n");
  EXPECT_TRUE(broker_.retainedHolds(kState, R"("offset":-600000)"));
  EXPECT_TRUE(waitForErrors(*bridge_, "radio 20 set-offset -600k: ok ("));

  bridge_->stop(SIGKILL);
  EXPECT_TRUE(broker_.retainedHolds(kStatus, kOffline));
}

TEST_F(BridgeTest, RadioctlThroughItPrintsWhatADirectRunPrintsAndWaitsOutTheTimeoutWithoutIt) {
  start();
  EXPECT_EQ(
      runClient(RADIOCTL_PATH, joined(remote(), {"set-offset", "-700k", "set-pl", "1k"})).status,
      2);
  const std::pair<Words, std::string> runs[] = {
      {{"set-offset", "-600k", "get-offset"}, ""},
      {{"--json", "-"}, "set-offset -600k\n# read it back\nget-offset\n"},
  };
  for (const auto &[args, input] : runs) {
    const ClientRun bridged = runClient(RADIOCTL_PATH, joined(remote(), args), input);
    EXPECT_EQ(bridged.status, 0) << bridged.err;
    EXPECT_EQ(bridged.out, runClient(RADIOCTL_PATH, joined({"--simulate"}, args), input).out);
  }
  EXPECT_EQ(bridge_->errors().find("-700k"), std::string::npos) << "the usage error was sent";
  Words wrong = remote();
  wrong.back() = broker_.passwordFile(kOutsiderUser);
  const ClientRun refused = runClient(RADIOCTL_PATH, joined(wrong, {"get-offset"}));
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.err.find("refused the connection"), std::string::npos) << refused.err;
  const ClientRun lonely =
      runClient(RADIOCTL_PATH, joined(remote("unserved"), {"--json", "get-offset"}));
  EXPECT_EQ(lonely.status, 1);
  EXPECT_EQ(codeOf(jsonOf(lonely.out)), "no-bridge") << lonely.out;
}

TEST_F(BridgeTest, AnswersBusyBeyondTheQueueAndWhenStoppedFinishesTheExchangeAndRefusesTheRest) {
  start({"--queue-size", "2"}, {"--delay-ms", "500"});
  Subscriber replies(broker_, kResponse);
  std::ostringstream lines;
  for (int n = 0; n < 5; ++n) lines << R"({"command":"get-offset","transaction":")" << n << "\"}\n";
  publish(lines.str(), {"-V", "311"});
  ASSERT_TRUE(replies.waitForMessages(2));  // the busy ones, while the first exchange runs
  EXPECT_EQ(bridge_->stop(SIGTERM), 0) << bridge_->errors();
  ASSERT_TRUE(replies.waitForMessages(5)) << bridge_->errors();
  Words transactions;
  std::map<std::string, int> codes;
  for (const Json &reply : repliesOf(replies)) {
    transactions.push_back(reply.value("transaction", ""));
    ++codes[codeOf(reply)];
  }
  std::sort(transactions.begin(), transactions.end());
  EXPECT_EQ(transactions, (Words{"0", "1", "2", "3", "4"}));
  EXPECT_EQ(codes[""], 1);
  EXPECT_GE(codes["busy"], 2);
  EXPECT_GE(codes["shutting-down"], 1);
  EXPECT_EQ(codes.size(), 3u);
  EXPECT_TRUE(broker_.retainedHolds(kStatus, kOffline));
}

TEST_F(BridgeTest, ExpiresStaleRequestsAndKeepsItsBrokerWhileTheRadioWorksPastTheKeepalive) {
  // Twelve exchanges of 0.7 s (a setter of a readable value makes two) keep
  // the worker busy longer than 1.5 keepalives; the last two requests, living
  // one second, expire behind them.
  start({"--keepalive", "5", "--request-expiry", "1"}, {"--delay-ms", "700"});
  Subscriber replies(broker_, kResponse);
  publish(
      "set-offset 600k\nset-split 1 2\nset-offset -600k\nset-split 3 4\nget-offset\nget-split\n"
      "get-config\nget-offset\n",
      {"-D", "publish", "message-expiry-interval", "30"});
  publish(R"({"command":"set-freq 146.52M","transaction":"own"})",
          {"-D", "publish", "message-expiry-interval", "1"});
  publish(R"({"command":"set-freq 147.52M","transaction":"default"})", {"-V", "311"});
  ASSERT_TRUE(replies.waitForMessages(10, 20)) << bridge_->errors();
  for (const Json &reply : repliesOf(replies)) {
    EXPECT_EQ(codeOf(reply), reply.contains("transaction") ? "expired" : "") << reply;
  }
  EXPECT_FALSE(radioHeard("146.52") || radioHeard("147.52")) << sim_->output();
  EXPECT_EQ(bridge_->errors().find("broker lost"), std::string::npos) << bridge_->errors();
  EXPECT_EQ(broker_.log().find("exceeded timeout"), std::string::npos) << broker_.log();
}

TEST_F(BridgeTest, OutlastsABrokerDownAtStartALostLineAndABrokerRestart) {
  broker_.stop();
  startSim({"--version-text", "first"});
  startBridge({"--heartbeat", "1"});
  ASSERT_TRUE(waitForErrors(*bridge_, "broker lost"));
  ASSERT_TRUE(broker_.start());
  EXPECT_TRUE(broker_.retainedHolds(kState, R"("version":"first")")) << bridge_->errors();

  sim_->stop(SIGKILL);
  EXPECT_TRUE(broker_.retainedHolds(kStatus, R"("line":"lost")"));
  EXPECT_EQ(codeOf(jsonOf(ask("get-offset").out)), "line-lost");
  startSim({"--version-text", "second"});
  EXPECT_TRUE(broker_.retainedHolds(kStatus, R"("line":"open")")) << bridge_->errors();
  EXPECT_TRUE(broker_.retainedHolds(kState, R"("version":"second")"));

  // A new broker holds nothing retained: what shows was published again.
  broker_.stop();
  ASSERT_TRUE(broker_.start());
  EXPECT_TRUE(broker_.retainedHolds(kStatus, R"("state":"online")")) << bridge_->errors();
  EXPECT_TRUE(broker_.retainedHolds(kState, R"("version":"second")"));
  EXPECT_EQ(jsonOf(ask("get-offset").out).value("ok", false), true);
}

TEST_F(BridgeTest, ServesTlsClientsThatTrustTheCaAndExitsWithStatusOneOnARefusedPassword) {
  tls_ = true;
  start();
  EXPECT_EQ(runClient(RADIOCTL_PATH, joined(remote(), {"get-offset"})).out, "offset: 0 Hz\n");
  Words untrusting = broker_.login(kClientUser, true);
  untrusting.resize(untrusting.size() - 2);  // TLS without the CA
  untrusting.push_back("--tls-use-os-certs");
  const ClientRun refused = runClient(
      "mosquitto_rr",
      joined(untrusting, {"-t", kRequest, "-e", kReplyTopic, "-W", "5", "-m", "set-freq 147.25M"}));
  EXPECT_NE(refused.status, 0);
  EXPECT_FALSE(radioHeard("147.25"));

  Process refused_bridge(RADIOBRIDGE_PATH,
                         {"-d", link_, "--broker", broker_.address(), "--user", kBridgeUser,
                          "--password-file", broker_.passwordFile(kOutsiderUser)});
  EXPECT_EQ(refused_bridge.waitForExit(), 1);
  EXPECT_NE(refused_bridge.errors().find("refused the bridge's credentials"), std::string::npos);
}

}  // namespace
