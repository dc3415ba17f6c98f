// SPDX-License-Identifier: MIT
// radiobridge end to end: a real mosquitto, radiosim on the line, the mosquitto clients as users.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <iterator>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "broker.h"
#include "simproc.h"

namespace {

using Json = nlohmann::json;
using Words = std::vector<std::string>;

const std::string kLine = "radioline/bus";
const std::string kStatus = kLine + "/status";
const std::string kRequest = kLine + "/20/request";
const std::string kResponse = kLine + "/20/response";
const std::string kState = kLine + "/20/state";
const std::string kReplyTopic = kLine + "/reply/test";
const std::string kOnline = R"("state":"online")";
const std::string kOffline = R"({"state":"offline"})";
const std::string kAvailable = R"("available":true)";

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

// The payloads of a subscriber's messages, as JSON.
std::vector<Json> payloadsOf(const Subscriber &subscriber) {
  std::vector<Json> payloads;
  for (const std::string &message : subscriber.messages()) {
    const std::size_t topic_end = message.find(' ', 2);
    payloads.push_back(jsonOf(message.substr(topic_end + 1)));
  }
  return payloads;
}

// A broker, radiosim behind a link of the line's device, and the bridge on
// that device as line "bus".
class BridgeTest : public ::testing::Test {
 protected:
  explicit BridgeTest(bool tls = false) : tls_(tls), broker_(tls) {}

  // radiosim with `sim_options`, then the bridge with `options`; waits until
  // the bridge is online (so subscribed) and has read the radio.
  void start(const Words &options = {}, const Words &sim_options = {}) {
    startSim(sim_options);
    startBridge(options);
    ASSERT_TRUE(broker_.retainedHolds(kState, kAvailable)) << bridge_->errors() << broker_.log();
  }
  void startSim(const Words &options = {}) {
    sim_.emplace(joined(options, {"--link", link_, "--stay"}));
    ASSERT_TRUE(sim_->started());
  }
  void startBridge(const Words &options = {}) {
    Words args =
        joined({"-d", link_, "--name", "bus", "--broker", broker_.address(tls_)},
               {"--user", kBridgeUser, "--password-file", broker_.passwordFile(kBridgeUser)});
    if (tls_) args.insert(args.end(), {"--cafile", broker_.caFile()});
    if (std::find(options.begin(), options.end(), "--heartbeat") == options.end()) {
      args.insert(args.end(), {"--heartbeat", "0"});
    }
    bridge_.emplace(RADIOBRIDGE_PATH, joined(args, options));
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
  Json request(const std::string &payload, const Words &options = {},
               const std::string &response = kReplyTopic) const {
    return jsonOf(ask(payload, options, response).out);
  }
  // mosquitto_pub sends each line of `lines` to radio 20 as `user`, or
  // all of it as one message with "-s" in `options`.
  void publish(const std::string &lines, const Words &options = {},
               const std::string &user = kClientUser) const {
    const Words args{"-t", kRequest, "-q", "1"};
    const bool whole = std::find(options.begin(), options.end(), "-s") != options.end();
    runClient("mosquitto_pub",
              joined(joined(broker_.login(user), args), whole ? options : joined(options, {"-l"})),
              lines);
  }
  // radioctl's options that reach the bridge through the broker as the client.
  Words remote() const {
    Words options{
        "--broker", broker_.address(tls_), "--line",          "bus",
        "--user",   kClientUser,           "--password-file", broker_.passwordFile(kClientUser)};
    if (tls_) options.insert(options.end(), {"--cafile", broker_.caFile()});
    return options;
  }
  // Whether radiosim has logged a request with `text` in it.
  bool radioHeard(const std::string &text) const {
    return sim_->output().find(text) != std::string::npos;
  }

  bool tls_;
  TempDir dir_;
  std::string link_ = dir_.file("radio");
  Broker broker_;
  std::optional<SimProcess> sim_;
  std::optional<Process> bridge_;
};

TEST_F(BridgeTest, AnswersOnTheResponseTopicWithTheCorrelationDataAndReadsBackWhatItSet) {
  start();
  const ClientRun run =
      ask("set-offset -600k", {"-D", "publish", "correlation-data", "c-17", "-F", "%t %D %p"});
  EXPECT_EQ(run.out, kReplyTopic + R"( c-17 {"command":"set-offset","ok":true})" + "\n");
  EXPECT_TRUE(broker_.retainedHolds(kState, R"("offset":-600000)"));
  EXPECT_TRUE(waitForErrors(*bridge_, "radio 20 set-offset -600k: ok ("));
}

TEST_F(BridgeTest, AnswersThreeOneOneClientsOnTheResponseTopicWithTheirTransaction) {
  start();
  EXPECT_EQ(request(R"({"command":"get-offset","transaction":"t-9"})", {"-V", "311"}, kResponse),
            jsonOf(R"({"command":"get-offset","ok":true,"offset":0,"transaction":"t-9"})"));
}

TEST_F(BridgeTest, NeverExecutesARetainedRequestAndClearsIt) {
  publish("set-freq 146.52M", {"-r"});
  start();
  Subscriber replies(broker_, kResponse);
  publish("set-freq 147.52M", {"-r"});
  ASSERT_TRUE(replies.waitForMessages(1));
  EXPECT_EQ(payloadsOf(replies)[0].value("ok", true), false);
  EXPECT_EQ(request("get-offset").value("ok", false), true);
  EXPECT_FALSE(radioHeard("146.52") || radioHeard("147.52")) << sim_->output();
  EXPECT_EQ(broker_.retained(kRequest), "");
}

TEST_F(BridgeTest, AnswersGarbageWithAUsageErrorAndStaysUp) {
  start();
  const std::string garbage[] = {
      "\xff\xfe get-offset",  // not UTF-8
      "fly-to 145.5M",
      "set-freq banana",
      R"({"command":5})",
      R"({"command":"get-offset","transaction":7})",
      "[1,2]",
      std::string(1 << 20, 'a'),
  };
  Subscriber replies(broker_, kReplyTopic);
  for (const std::string &payload : garbage) {
    publish(payload, {"-s", "-D", "publish", "response-topic", kReplyTopic});
  }
  ASSERT_TRUE(replies.waitForMessages(std::size(garbage))) << bridge_->errors();
  for (const Json &reply : payloadsOf(replies)) EXPECT_EQ(codeOf(reply), "usage") << reply;
  EXPECT_EQ(request("get-offset").value("ok", false), true);
}

TEST_F(BridgeTest, RefusesToPublishRepliesOutsideTheReplyPrefix) {
  start();
  Subscriber state(broker_, kState);
  Subscriber responses(broker_, kResponse);
  publish("get-offset", {"-D", "publish", "response-topic", kState});
  ASSERT_TRUE(responses.waitForMessages(1));
  const Json refusal = payloadsOf(responses)[0];
  EXPECT_EQ(codeOf(refusal), "usage");
  EXPECT_NE(refusal["error"].value("message", "").find(kState), std::string::npos) << refusal;
  EXPECT_TRUE(waitForErrors(*bridge_, kState));
  EXPECT_EQ(state.messages().size(), 1u) << "more than the retained state on " << kState;
}

TEST_F(BridgeTest, ExecutesNothingAUserTheAclDoesNotAllowPublishes) {
  start();
  publish("set-freq 147.25M", {}, kOutsiderUser);
  EXPECT_EQ(request("get-offset").value("ok", false), true);
  EXPECT_FALSE(radioHeard("147.25")) << sim_->output();
}

TEST_F(BridgeTest, RadioctlThroughItPrintsWhatADirectRunPrintsAndWaitsOutTheTimeoutWithoutIt) {
  start();
  Subscriber requests(broker_, kRequest);
  Words options = remote();
  EXPECT_EQ(
      runClient(RADIOCTL_PATH, joined(options, {"set-offset", "-600k", "set-pl", "1k"})).status, 2);
  const std::pair<Words, std::string> runs[] = {
      {{"set-offset", "-600k", "get-offset"}, ""},
      {{"--json", "-"}, "set-offset -600k\n# read it back\nget-offset\n"},
  };
  for (const auto &[args, input] : runs) {
    const ClientRun direct = runClient(RADIOCTL_PATH, joined({"--simulate"}, args), input);
    const ClientRun bridged = runClient(RADIOCTL_PATH, joined(options, args), input);
    EXPECT_EQ(bridged.status, 0) << bridged.err;
    EXPECT_EQ(bridged.out, direct.out);
  }
  ASSERT_TRUE(requests.waitForMessages(1));
  EXPECT_NE(requests.messages()[0].find("set-offset -600k"), std::string::npos)
      << "the usage error published " << requests.messages()[0];
  options[5] = kOutsiderUser;  // with the client's password
  const ClientRun refused = runClient(RADIOCTL_PATH, joined(options, {"get-offset"}));
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.err.find("refused the connection"), std::string::npos) << refused.err;
  options[5] = kClientUser;
  options[3] = "unserved";
  const ClientRun lonely = runClient(RADIOCTL_PATH, joined(options, {"--json", "get-offset"}));
  EXPECT_EQ(lonely.status, 1);
  EXPECT_EQ(codeOf(jsonOf(lonely.out)), "no-bridge") << lonely.out;
}

class BridgeStopTest : public BridgeTest, public ::testing::WithParamInterface<int> {};

TEST_P(BridgeStopTest, LeavesItsStatusOffline) {
  start();
  Subscriber status(broker_, kStatus);
  ASSERT_TRUE(status.waitForMessages(1));
  const int signal = GetParam();
  EXPECT_EQ(bridge_->stop(signal), signal == SIGKILL ? 128 + SIGKILL : 0) << bridge_->errors();
  ASSERT_TRUE(status.waitForMessages(2));
  EXPECT_EQ(status.messages().back(), "0 " + kStatus + " " + kOffline);
}

INSTANTIATE_TEST_SUITE_P(BySignal, BridgeStopTest, ::testing::Values(SIGKILL, SIGTERM),
                         [](const auto &info) { return info.param == SIGKILL ? "Kill" : "Term"; });

TEST_F(BridgeTest, FinishesTheExchangeInProgressAndAnswersTheRestWhenStopped) {
  start({}, {"--delay-ms", "500"});
  Subscriber replies(broker_, kResponse);
  publish("get-offset\nget-offset\nget-offset", {"-V", "311"});
  EXPECT_EQ(bridge_->stop(SIGTERM), 0);
  ASSERT_TRUE(replies.waitForMessages(3)) << bridge_->errors();
  int stopped = 0;
  for (const Json &reply : payloadsOf(replies)) {
    stopped += codeOf(reply) == "shutting-down" ? 1 : 0;
    EXPECT_TRUE(reply.value("ok", false) || codeOf(reply) == "shutting-down") << reply;
  }
  EXPECT_GE(stopped, 1);
}

TEST_F(BridgeTest, ReopensALostLineAndReadsTheRadioAgain) {
  start({"--heartbeat", "1"}, {"--version-text", "first"});
  EXPECT_TRUE(broker_.retainedHolds(kState, R"("version":"first")"));
  sim_->stop(SIGKILL);
  EXPECT_TRUE(broker_.retainedHolds(kStatus, R"("line":"lost")"));
  EXPECT_EQ(codeOf(request("get-offset")), "line-lost");
  startSim({"--version-text", "second"});
  EXPECT_TRUE(broker_.retainedHolds(kStatus, R"("line":"open")")) << bridge_->errors();
  EXPECT_TRUE(broker_.retainedHolds(kState, R"("version":"second")"));
  EXPECT_EQ(request("get-offset").value("ok", false), true);
}

TEST_F(BridgeTest, RetriesABrokerThatIsDownAtStart) {
  broker_.stop();
  startSim();
  startBridge();
  ASSERT_TRUE(waitForErrors(*bridge_, "broker lost"));
  ASSERT_TRUE(broker_.start());
  EXPECT_TRUE(broker_.retainedHolds(kState, kAvailable)) << bridge_->errors();
  EXPECT_EQ(request("get-offset").value("ok", false), true);
}

TEST_F(BridgeTest, SubscribesAndPublishesItsStateAgainWhenTheBrokerReturns) {
  start();
  broker_.stop();
  ASSERT_TRUE(waitForErrors(*bridge_, "broker lost"));
  ASSERT_TRUE(broker_.start());
  EXPECT_TRUE(broker_.retainedHolds(kStatus, kOnline)) << bridge_->errors();
  EXPECT_TRUE(broker_.retainedHolds(kState, kAvailable));
  EXPECT_EQ(request("get-offset").value("ok", false), true);
}

TEST_F(BridgeTest, KeepsItsBrokerConnectionWhileTheRadioWorksLongerThanTheKeepalive) {
  start({"--keepalive", "5"}, {"--delay-ms", "1000"});
  Subscriber replies(broker_, kResponse);
  publish(
      "get-offset\nget-split\nget-config\nget-offset\nget-split\nget-config\nget-offset\n"
      "get-split\n",
      {"-V", "311"});
  ASSERT_TRUE(replies.waitForMessages(8, 20)) << bridge_->errors();
  for (const Json &reply : payloadsOf(replies)) EXPECT_EQ(reply.value("ok", false), true);
  EXPECT_EQ(bridge_->errors().find("broker lost"), std::string::npos) << bridge_->errors();
  EXPECT_EQ(broker_.log().find("exceeded timeout"), std::string::npos) << broker_.log();
}

TEST_F(BridgeTest, AnswersBusyWhenTheQueueIsFullAndEveryRequestOnce) {
  start({"--queue-size", "1"}, {"--delay-ms", "300"});
  Subscriber replies(broker_, kResponse);
  std::ostringstream lines;
  for (int n = 0; n < 5; ++n) {
    lines << R"({"command":"get-offset","transaction":")" << n << "\"}\n";
  }
  publish(lines.str(), {"-V", "311"});
  ASSERT_TRUE(replies.waitForMessages(5));
  std::vector<std::string> transactions;
  int busy = 0;
  for (const Json &reply : payloadsOf(replies)) {
    transactions.push_back(reply.value("transaction", ""));
    busy += codeOf(reply) == "busy" ? 1 : 0;
  }
  std::sort(transactions.begin(), transactions.end());
  EXPECT_EQ(transactions, (Words{"0", "1", "2", "3", "4"}));
  EXPECT_GE(busy, 1);
}

TEST_F(BridgeTest, AnswersExpiredRequestsWithoutExecutingThem) {
  // Each exchange takes 600 ms and a setter of a readable value makes two,
  // so the requests behind two of them, living one second, expire.
  start({"--request-expiry", "1"}, {"--delay-ms", "600"});
  Subscriber replies(broker_, kResponse);
  publish("set-offset 600k\nset-split 1 2", {"-D", "publish", "message-expiry-interval", "30"});
  publish(R"({"command":"set-freq 146.52M","transaction":"own"})",
          {"-D", "publish", "message-expiry-interval", "1"});
  publish(R"({"command":"set-freq 147.52M","transaction":"default"})", {"-V", "311"});
  ASSERT_TRUE(replies.waitForMessages(4));
  for (const Json &reply : payloadsOf(replies)) {
    EXPECT_EQ(codeOf(reply), reply.contains("transaction") ? "expired" : "") << reply;
  }
  EXPECT_FALSE(radioHeard("146.52") || radioHeard("147.52")) << sim_->output();
}

class BridgeTlsTest : public BridgeTest {
 protected:
  BridgeTlsTest() : BridgeTest(true) {}
};

TEST_F(BridgeTlsTest, ServesClientsThatTrustTheCaAndNoOthers) {
  start();
  EXPECT_EQ(request("get-offset").value("ok", false), true);
  EXPECT_EQ(runClient(RADIOCTL_PATH, joined(remote(), {"get-offset"})).out, "offset: 0 Hz\n");
  Words untrusting = broker_.login(kClientUser, true);
  untrusting.resize(untrusting.size() - 2);  // TLS without the CA
  untrusting.push_back("--tls-use-os-certs");
  const ClientRun refused = runClient(
      "mosquitto_rr",
      joined(untrusting, {"-t", kRequest, "-e", kReplyTopic, "-W", "5", "-m", "set-freq 147.25M"}));
  EXPECT_NE(refused.status, 0);
  EXPECT_FALSE(radioHeard("147.25"));
}

TEST_F(BridgeTest, ExitsWithStatusOneWhenItCannotLogIn) {
  const Words cases[] = {
      {"--password-file", broker_.passwordFile(kOutsiderUser)},
      {"--password-file", broker_.passwordFile(kBridgeUser), "--cafile", dir_.file("missing.crt")},
  };
  for (const Words &options : cases) {
    Process bridge(RADIOBRIDGE_PATH, joined({"-d", link_, "--heartbeat", "0", "--broker",
                                             broker_.address(), "--user", kBridgeUser},
                                            options));
    EXPECT_EQ(bridge.waitForExit(), 1) << options.back();
    EXPECT_NE(bridge.errors(), "") << options.back();
  }
}

}  // namespace
