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

const std::string kLine = "radioline/bus";
const std::string kStatus = kLine + "/status";
const std::string kRequest = kLine + "/20/request";
const std::string kResponse = kLine + "/20/response";
const std::string kState = kLine + "/20/state";
const std::string kReplyTopic = kLine + "/reply/test";

// The JSON value of `text`, or an empty object when it is none.
Json jsonOf(const std::string &text) {
  const Json value = Json::parse(text, nullptr, false);
  return value.is_discarded() ? Json::object() : value;
}

// The error code of the reply in `text`, "" when it is none.
std::string codeOf(const std::string &text) {
  const Json reply = jsonOf(text);
  return reply.contains("error") ? reply["error"].value("code", "") : "";
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
    replies_.emplace(broker_, kResponse);
    startSim(sim_options);
    startBridge(options);
    ASSERT_TRUE(broker_.retainedHolds(kState, R"("available":true)"))
        << bridge_->errors() << broker_.log();
  }
  void startSim(const Words &options = {}) {
    sim_.emplace(joined({options, {"--link", link_, "--stay"}}));
    ASSERT_TRUE(sim_->started());
  }
  void startBridge(const Words &options = {}) {
    bridge_.emplace(
        RADIOBRIDGE_PATH,
        joined({{"-d", link_, "--name", "bus"}, credentials(kBridgeUser, kBridgeUser), options}));
  }

  // mosquitto_rr sends `payload` to radio 20 as the client and waits for
  // the reply on `response` (an MQTT 5 response topic unless -V 311 is in
  // `options`).
  ClientRun ask(const std::string &payload, const Words &options = {},
                const std::string &response = kReplyTopic) const {
    const Words args{"-t", kRequest, "-e", response, "-q", "1", "-W", "10", "-m", payload};
    return runClient("mosquitto_rr", joined({broker_.login(kClientUser, tls_), args, options}));
  }
  // mosquitto_pub sends `payload` to radio 20 as `user`: as one message
  // with -s in `options`, a message per line with -l.
  void publish(const std::string &payload, const Words &options = {"-s"},
               const std::string &user = kClientUser) const {
    runClient("mosquitto_pub", joined({broker_.login(user), {"-t", kRequest, "-q", "1"}, options}),
              payload);
  }
  // The broker options of the bridge and radioctl: as `user` with the
  // password of `password_user`, and the CA over TLS.
  Words credentials(const std::string &user, const std::string &password_user) const {
    const Words plain{"--broker", broker_.address(tls_), "--user", user};
    return joined({plain,
                   {"--password-file", broker_.passwordFile(password_user)},
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
  // Whether radiosim has heard a frame whose log line holds `text`.
  bool heard(const std::string &text) const {
    return sim_->output().find(text) != std::string::npos;
  }

  bool tls_ = false;  // the bridge and the clients connect over TLS
  TempDir dir_;
  std::string link_ = dir_.file("radio");
  Broker broker_;
  std::optional<SimProcess> sim_;
  std::optional<Process> bridge_;
  std::optional<Subscriber> replies_;
};

TEST_F(BridgeTest, AnswersEveryRequestOnceAndRunsOnlyValidLiveOnesFromAllowedUsers) {
  publish("set-freq 146.52M", {"-s", "-r"});  // retained before the bridge subscribes
  start();
  publish(std::string(1 << 20, 'a'));
  publish("get-offset", {"-s", "-D", "publish", "response-topic", kState});
  publish("set-freq 147.52M", {"-s", "-r"});
  publish("set-freq 147.25M", {"-s"}, kOutsiderUser);
  ASSERT_TRUE(replies_->waitForMessages(3)) << bridge_->errors();
  for (const std::string &reply : replies_->messages()) EXPECT_EQ(codeOf(reply), "usage") << reply;
  EXPECT_EQ(
      jsonOf(ask(R"({"command":"get-offset","transaction":"t-9"})", {"-V", "311"}, kResponse).out),
      jsonOf(R"({"command":"get-offset","ok":true,"offset":0,"transaction":"t-9"})"));
  EXPECT_TRUE(replies_->waitForMessages(4));
  EXPECT_EQ(replies_->messages().size(), 4u) << "one reply each";
  EXPECT_FALSE(heard("146.52") || heard("147.52") || heard("147.25")) << sim_->output();
  EXPECT_EQ(broker_.retained(kRequest), "");

  const ClientRun run =
      ask("set-offset -600k", {"-D", "publish", "correlation-data", "c-17", "-F", "%t %D %p"});
  EXPECT_EQ(run.out, kReplyTopic + R"( c-17 {"command":"set-offset","ok":true})" + "\n");
  EXPECT_TRUE(broker_.retainedHolds(kState, R"("offset":-600000)"));
  EXPECT_TRUE(waitForErrors(*bridge_, "radio 20 set-offset -600k: ok ("));

  bridge_->stop(SIGKILL);
  EXPECT_TRUE(broker_.retainedHolds(kStatus, R"({"state":"offline"})"));
}

TEST_F(BridgeTest, ServesRadioctlOverTlsRefusesWrongCredentialsAndWaitsOutTheTimeoutWithoutIt) {
  tls_ = true;
  start();
  EXPECT_EQ(radioctl({"set-offset", "-700k", "set-pl", "1k"}).status, 2);
  const std::pair<Words, std::string> runs[] = {
      {{"set-offset", "-600k", "get-offset"}, ""},
      {{"--json", "-"}, "set-offset -600k\n# read it back\nget-offset\n"},
  };
  for (const auto &[args, input] : runs) {
    const ClientRun bridged = radioctl(args, input);
    EXPECT_EQ(bridged.status, 0) << bridged.err;
    EXPECT_EQ(bridged.out, runClient(RADIOCTL_PATH, joined({{"--simulate"}, args}), input).out);
  }
  EXPECT_EQ(bridge_->errors().find("-700k"), std::string::npos) << "the usage error was sent";
  // A CA bundle that does not hold the broker's certificate.
  EXPECT_NE(ask("set-freq 147.25M", {"--cafile", "/etc/ssl/certs/ca-certificates.crt"}).status, 0);
  EXPECT_FALSE(heard("147.25"));

  tls_ = false;  // the plain listener from here on
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
}

TEST_F(BridgeTest, AnswersBusyBeyondTheQueueAndWhenStoppedFinishesTheExchangeAndRefusesTheRest) {
  start({"--queue-size", "2"}, {"--delay-ms", "500"});
  std::ostringstream lines;
  for (int n = 0; n < 5; ++n) lines << R"({"command":"get-offset","transaction":")" << n << "\"}\n";
  publish(lines.str(), {"-l", "-V", "311"});
  ASSERT_TRUE(replies_->waitForMessages(2));  // the busy ones, while the first exchange runs
  EXPECT_EQ(bridge_->stop(SIGTERM), 0) << bridge_->errors();
  ASSERT_TRUE(replies_->waitForMessages(5)) << bridge_->errors();
  std::map<std::string, std::string> codes;  // each transaction's reply codes, ';' after each
  for (const std::string &reply : replies_->messages()) {
    codes[jsonOf(reply).value("transaction", "")] += codeOf(reply) + ';';
  }
  // The first runs and the second waits behind it; the last two find the queue
  // full, and so does the third unless the worker took the first at once.
  EXPECT_TRUE(codes["2"] == "busy;" || codes["2"] == "shutting-down;") << codes["2"];
  const std::map<std::string, std::string> expected{
      {"0", ";"}, {"1", "shutting-down;"}, {"2", codes["2"]}, {"3", "busy;"}, {"4", "busy;"}};
  EXPECT_EQ(codes, expected);
  EXPECT_TRUE(broker_.retainedHolds(kStatus, R"({"state":"offline"})"));
}

TEST_F(BridgeTest, ExpiresStaleRequestsAndKeepsItsBrokerWhileTheRadioWorksPastTheKeepalive) {
  // Twelve exchanges of 0.7 s (a setter of a readable value makes two) keep
  // the worker busy longer than 1.5 keepalives; the last two requests, living
  // one second, expire behind them.
  start({"--keepalive", "5", "--request-expiry", "1"}, {"--delay-ms", "700"});
  publish(
      "set-offset 600k\nset-split 1 2\nset-offset -600k\nset-split 3 4\nget-offset\nget-split\n"
      "get-config\nget-offset\n",
      {"-l", "-D", "publish", "message-expiry-interval", "30"});
  publish(R"({"command":"set-freq 146.52M","transaction":"own"})",
          {"-s", "-D", "publish", "message-expiry-interval", "1"});
  publish(R"({"command":"set-freq 147.52M","transaction":"default"})", {"-s", "-V", "311"});
  ASSERT_TRUE(replies_->waitForMessages(10, 20)) << bridge_->errors();
  for (const std::string &reply : replies_->messages()) {
    EXPECT_EQ(codeOf(reply), jsonOf(reply).contains("transaction") ? "expired" : "") << reply;
  }
  EXPECT_FALSE(heard("146.52") || heard("147.52")) << sim_->output();
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
  EXPECT_EQ(codeOf(ask("get-offset").out), "line-lost");
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

}  // namespace
