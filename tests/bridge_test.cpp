// SPDX-License-Identifier: MIT
// radiobridge end to end: a real mosquitto with per-user rights, radiosim on the line, radioctl
// and the mosquitto clients as users.
#include <gtest/gtest.h>

#include <csignal>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>

#include "broker.h"

namespace {

using Json = nlohmann::json;

const std::string kStatus = "radioline/bus/status";
const std::string kRequest = "radioline/bus/20/request";
const std::string kState = "radioline/bus/20/state";

// The error code of the JSON reply in `text`, "ok" when it has none; throws when it is no JSON.
std::string codeOf(const std::string &text) {
  return Json::parse(text).value(Json::json_pointer("/error/code"), "ok");
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
    replies_.emplace(
        broker_, Words{"-t", "radioline/bus/20/response/#", "-t", "radioline/bus/reply/alice/#"});
    startSim(sim_options);
    startBridge(options);
    ASSERT_TRUE(broker_.retainedHolds(kState, R"("available":true)")) << bridge_->errors();
  }
  void startSim(const Words &args) { sim_.emplace(joined({args, {"--link", link_, "--stay"}})); }
  void startBridge(const Words &options) {
    bridge_.emplace(RADIOBRIDGE_PATH,
                    bridgeArgs(joined({{"-d", link_, "--name", "bus"}, options})));
  }
  Words bridgeArgs(const Words &options, const std::string &password_user = kBridgeUser) const {
    return joined({credentials(kBridgeUser, password_user), options});
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

  // The replies so far, in order: each its transaction ("-" if none), a
  // space and its error code, or "ok".
  Words replies() const {
    Words found;
    for (const std::string &reply : replies_->messages())
      found.push_back(Json::parse(reply).value("transaction", "-") + " " + codeOf(reply));
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
  Words expected{"- usage", "- usage", "- usage", "forged usage"};
  expected.insert(expected.end(), 8, "- ok");
  expected.insert(expected.end(), {"own expired", "default expired"});
  EXPECT_EQ(replies(), expected);
  EXPECT_EQ(broker_.log().find("exceeded timeout"), std::string::npos) << broker_.log();

  for (const char *freq : {"146.52", "147.52", "147.25"})
    EXPECT_EQ(sim_->output().find(freq), std::string::npos) << freq << " was set";
}

// A second bridge on the line's device, one with a refused login or an unreadable password, one
// at a rate the line cannot take (before it tries the broker): each stops without touching what
// the first one publishes. Another bridge under the line's name is the claim rule's (BridgeClaim).
TEST_F(BridgeTest, BridgeThatCannotServeTheLineExitsOne) {
  start();
  const std::string status = broker_.retained(kStatus);
  const std::pair<Words, std::string> runs[] = {
      {bridgeArgs({"-d", link_}), "device busy: " + link_},
      {bridgeArgs({"--simulate"}, kBob), "refused the bridge's credentials"},
      {{"--simulate", "--user", kBridgeUser, "--password-file", dir_.file("none")},
       "cannot read the password"},
      {{"--simulate", "-b", "19201", "--broker", "127.0.0.1:1"}, "cannot run at 19201 baud"}};
  for (const auto &[args, why] : runs) {
    Process bridge(RADIOBRIDGE_PATH, args);
    EXPECT_EQ(bridge.waitForExit(), 1) << why;
    EXPECT_NE(bridge.errors().find(why), std::string::npos) << bridge.errors();
  }
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

// A radio the line lacks, a line no bridge serves, a refused login.
TEST_F(BridgeTest, RadioctlFailingThroughTheBridgeSaysWhy) {
  start();
  const std::tuple<Words, std::string, std::string, std::string> runs[] = {
      {{"--radio", "0x21"}, kAlice, "bus", R"("code":"usage")"},
      {{}, kAlice, "nowhere", "no bridge serves line nowhere"},
      {{}, kBob, "bus", "refused the connection"}};
  for (const auto &[args, password_user, line, why] : runs) {
    const ClientRun run =
        radioctl(joined({args, {"--json", "get-offset"}}), {}, password_user, line);
    EXPECT_EQ(run.status, 1) << line;
    EXPECT_NE((run.out + run.err).find(why), std::string::npos) << run.out << run.err;
  }
}

// Killed after it took radioctl's request: its will says offline, and radioctl that the bridge
// was lost with the request, not that none took it.
TEST_F(BridgeTest, KilledBridgeLeavesItsWillAndItsClientTold) {
  start();
  sim_->signal(SIGSTOP);  // the request waits on the radio
  Process client(
      RADIOCTL_PATH,
      joined({{"--line", "bus"}, credentials(kAlice, kAlice), {"--json", "get-offset"}}));
  ASSERT_TRUE(replies_->waitForMessages(1)) << "no interim message";
  bridge_->stop(SIGKILL);
  EXPECT_TRUE(broker_.retainedHolds(kStatus, R"({"state":"offline")"));
  EXPECT_EQ(client.waitForExit(), 1);
  EXPECT_EQ(codeOf(client.output()), "bridge-lost") << client.output();
  sim_->signal(SIGCONT);
}

// Bridge A stalls past 1.5 keepalives with radioctl's request unread; B takes the line; A
// resumes. The request, given up on, never runs; A yields; once B stops, the status is offline.
TEST_F(BridgeTest, StalledBridgeRunsNothingLateAndLeavesNoGhost) {
  start({"--keepalive", "5"});
  bridge_->signal(SIGSTOP);
  Process other(RADIOBRIDGE_PATH, bridgeArgs({"--simulate", "--name", "bus", "--keepalive", "5"}));
  EXPECT_EQ(codeOf(radioctl({"--json", "set-freq", "146.52M"}).out), "no-bridge");
  EXPECT_TRUE(waitForErrors(other, "taking line bus")) << other.errors();
  bridge_->signal(SIGCONT);
  EXPECT_TRUE(waitForErrors(*bridge_, "radio 20 set-freq 146.52M: expired"));
  EXPECT_EQ(bridge_->waitForExit(), 1);
  EXPECT_EQ(other.stop(SIGTERM), 0);
  EXPECT_TRUE(broker_.retainedHolds(kStatus, R"({"state":"offline")"));
  EXPECT_NE(radioctl({"get-offset"}).err.find("the bridge of line bus is offline"),
            std::string::npos);
  EXPECT_EQ(sim_->output().find("146.52"), std::string::npos);
}

// Its login may not publish: the bridge says so, once for each kind of topic.
TEST_F(BridgeTest, BridgeLogsEachKindOfPublishTheBrokerRefuses) {
  Process bridge(RADIOBRIDGE_PATH,
                 joined({credentials(kAlice, kAlice), {"--simulate", "--name", "spare"}}));
  for (const std::string kind : {"status", "state", "discovery"})
    EXPECT_TRUE(waitForErrors(bridge, "(later refusals of " + kind)) << bridge.errors();
}

// Radio 22, which never answers, is unavailable from its first read; a request still goes to
// it and waits the bridge's own time-out.
TEST_F(BridgeTest, HeartbeatZeroReadsTheRadioOnlyAtStart) {
  start({"--heartbeat", "0", "--timeout", "300", "--radio", "0x20", "--radio", "0x22"});
  EXPECT_TRUE(broker_.retainedHolds("radioline/bus/22/state", R"("available":false)"));
  publish("get-offset", {"-s"}, kAdminUser, "radioline/bus/22/request");
  EXPECT_TRUE(waitForErrors(*bridge_, "radio 22 get-offset: timeout ("));
  EXPECT_TRUE(
      std::regex_search(bridge_->errors(), std::regex(R"(22 get-offset: timeout \(\d{3} ms\))")));
  publish("get-offset");  // wakes the worker, which must not beat on its way
  ASSERT_TRUE(replies_->waitForMessages(1)) << bridge_->errors();
  std::this_thread::sleep_for(std::chrono::milliseconds(1000));
  const std::string log = sim_->output();
  EXPECT_EQ(log.find("version read"), log.rfind("version read")) << log;
}

TEST_F(BridgeTest, QueueServesRequestersInTurnUntilStopped) {
  start({"--queue-size", "12"}, {"--delay-ms", "700"});
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
  Words served, busy;
  for (const std::string &reply : replies())
    (reply.find(" busy") == std::string::npos ? served : busy).push_back(reply);
  EXPECT_EQ(busy, (Words{"b4 busy", "b5 busy", "b6 busy", "b7 busy", "b8 busy"}));
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
}

TEST_F(BridgeTest, HealsAfterLosingTheBrokerOrTheLine) {
  tls_ = false;  // a refused plain connection is what logs "broker lost" at once
  broker_.stop();
  startSim({"--version-text", "first"});
  startBridge({});  // the lost line is seen between requests, not at a heartbeat
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
  EXPECT_TRUE(broker_.retainedHolds(kState, R"("version":"second")")) << bridge_->errors();
  EXPECT_TRUE(broker_.retainedHolds("homeassistant/sensor/radioline_bus_20/version/config",
                                    R"("sw_version":"second")"));
}

// The radio falls silent: each request costs one time-out, none is spent re-reading the state,
// so radioctl's request, queued behind another past its own 10 s, gets the radio's answer. The
// radio then takes the setter late: once it answers again its state is read again, and right.
TEST_F(BridgeTest, SilentRadioCostsEachRequestOneTimeout) {
  start();
  const std::size_t before = sim_->output().size();
  sim_->signal(SIGSTOP);
  publish("get-offset");
  EXPECT_EQ(codeOf(radioctl({"--json", "set-offset", "-700k"}).out), "timeout");
  sim_->signal(SIGCONT);
  EXPECT_EQ(radioctl({"get-offset"}).out, "offset: -700000 Hz\n");
  EXPECT_TRUE(broker_.retainedHolds(kState, R"("offset":-700000)")) << bridge_->errors();
  EXPECT_EQ(sim_->output().find("version read", before), std::string::npos);
}

TEST(Bridge, HelpOrVersionThatCannotBeWrittenExitsOne) {
  for (const char *option : {" --help", " --version"}) {
    Process run("/bin/sh", {"-c", RADIOBRIDGE_PATH + std::string(option) + " >/dev/full"});
    EXPECT_EQ(run.waitForExit(), 1) << option;
  }
}

// Each entity in a recall's order: its component, the value the hub sends
// (none for a button or sensor), what radiosim logs then, and what its value
// template shows before and after.
const Json kUses = Json::parse(R"([
  ["store_vfo", "button", null, " stored", null, null],
  ["recall_mode", "button", null, " recalled", null, null],
  ["mode_slot", "number", 3.0, "mode 3 selected", "None", "3"],
  ["frequency", "number", 145500000.0, "VFO set to 145.500000 MHz", "None", "145500000"],
  ["duplex", "number", 17, "duplex set to 11", "None", "17"],
  ["tx_tone", "number", 88.5, "tx PL set to 88.5", "None", "88.5"],
  ["rx_tone", "number", 100, "rx PL set to 100.0", "None", "100.0"],
  ["tx_offset", "number", -600000.0, "tx offset set to -600000", "0", "-600000"],
  ["version", "sensor", null, null, "radiosim 1.0", "radiosim 1.0"],
  ["split", "sensor", null, null, "0 / 0 Hz", "0 / 0 Hz"],
  ["codeplug", "sensor", null, null, "00000000000000000000000000000000",
   "00000000000000000000000000000000"]])");

// The bridge's dashboard announcements, rendered by Jinja2 as the hub renders them.
class DiscoveryTest : public BridgeTest {
 protected:
  // The retained configurations under NODE, by topic.
  Json configs(const std::string &node = "+") const {
    const Words once{
        "--retained-only", "-v", "-W", "1", "-t", "homeassistant/+/" + node + "/+/config"};
    std::istringstream lines(
        runClient("mosquitto_sub", joined({broker_.login(kAdminUser), once})).out);
    Json found = Json::object();
    for (std::string topic, payload; lines >> topic && std::getline(lines, payload);)
      found[topic] = Json::parse(payload);
    return found;
  }
  // Each template rendered as the hub renders it, with its own variables or
  // all with the retained JSON on `topic`.
  Json render(const Json &templates, const Json &variables) const {
    Json jobs = Json::array();
    for (std::size_t i = 0; i < templates.size(); ++i)
      jobs.push_back({templates[i], variables.is_array() ? variables[i] : variables});
    return Json::parse(runClient("/usr/bin/python3", {HUB_RENDER_PATH}, jobs.dump()).out);
  }
  Json rendered(const Json &templates, const std::string &topic) const {
    return render(templates, {{"value_json", Json::parse(broker_.retained(topic))}});
  }
};

TEST_F(DiscoveryTest, AnnouncedEntitiesWorkAsTheHubRendersThem) {
  start({"--heartbeat", "1"});
  const std::string node = "radioline_bus_20";
  ASSERT_TRUE(broker_.retainedHolds(
      "homeassistant/sensor/" + node + "/version/config",
      R"("name":"Radio 20 on bus","manufacturer":"radioline","sw_version":"radiosim 1.0","model":"radiosim")"));
  Json found = configs(node), shown, before, after, commands, values;
  ASSERT_EQ(found.size(), kUses.size());
  for (const Json &use : kUses) {
    const std::string object = use[0], component = use[1];
    Json &config = found["homeassistant/" + component + "/" + node + "/" + object + "/config"];
    // What the hub requires: a command topic, or a sensor's state topic.
    EXPECT_EQ(config[component == "sensor" ? "state_topic" : "command_topic"],
              component == "sensor" ? kState : kRequest);
    EXPECT_EQ(config["unique_id"], node + "_" + object);
    EXPECT_EQ(config["device"]["identifiers"], Json::array({node}));
    EXPECT_EQ(config.value("entity_category", ""), component == "sensor" ? "diagnostic" : "");
    if (config.contains("command_topic")) {
      commands.push_back(config.value("command_template", config["payload_press"]));
      values.push_back({{"value", use[2]}});
    }
    if (!config.contains("value_template")) continue;
    shown.push_back(config["value_template"]);
    before.push_back(use[4]);
    after.push_back(use[5]);
  }
  // Unknown until set, but for the offset and the sensors, which were read.
  EXPECT_EQ(rendered(shown, kState), before);
  std::string lines;
  for (const std::string command : render(commands, values)) lines += command + "\n";
  publish(lines, {"-l"});
  for (const Json &use : kUses)
    EXPECT_TRUE(use[3].is_null() || sim_->waitForOutput(use[3])) << lines;
  ASSERT_TRUE(broker_.retainedHolds(kState, R"("offset":-600000)"));
  EXPECT_EQ(rendered(shown, kState), after);

  // The device greys out when the line is lost and when the bridge stops.
  const Json line = found["homeassistant/sensor/" + node + "/version/config"]["availability"][0];
  const Json availability = Json::array({line["value_template"]});
  EXPECT_EQ(rendered(availability, line["topic"]), Json({"online"}));
  sim_->stop(SIGKILL);
  ASSERT_TRUE(broker_.retainedHolds(line["topic"], R"("line":"lost")"));
  EXPECT_EQ(rendered(availability, line["topic"]), Json({"offline"}));
  bridge_->stop(SIGTERM);
  EXPECT_EQ(rendered(availability, line["topic"]), Json({"offline"}));
}

// Lines 'shack 1' and 'shack_1' have nodes of their own, each with its radios' entities and two
// of the line's own: neither bridge touches the other's.
TEST_F(DiscoveryTest, ClearsOnlyAnnouncementsOfItsOwnStaleNodes) {
  const std::string own = "homeassistant/sensor/radioline_shack-201_";
  // A radio no longer served, an entity no longer announced, and two that are not the line's.
  const Words stale{own + "22/frequency/config", own + "20/old/config"};
  const Words foreign{own + "200/version/config",
                      "homeassistant/sensor/radioline_shack_1_20/version/config"};
  // One the bridge announces again: an earlier run's copy is replaced, not cleared.
  const std::string current = own + "20/version/config";
  for (const std::string &planted : joined({stale, foreign, {current}}))
    publish("{}", {"-s", "-r"}, kBridgeUser, planted);
  Process other(RADIOBRIDGE_PATH,
                bridgeArgs({"--simulate", "--name", "shack_1", "--radio", "0x21"}));
  const auto others = [&] { return configs("radioline_shack-5f1_21").size() == kUses.size(); };
  ASSERT_TRUE(pollFor(10, others)) << other.errors();  // announced before this line clears
  const Words line{"--simulate", "--name", "shack 1"};
  bridge_.emplace(RADIOBRIDGE_PATH, bridgeArgs(line));
  // Its own announcements, the other line's and the two foreign ones, no stale one.
  EXPECT_TRUE(pollFor(10, [&] { return configs().size() == 2 * (kUses.size() + 2) + 2; }))
      << bridge_->errors() << other.errors();
  const Json found = configs();
  EXPECT_FALSE(found.contains(stale[0]) || found.contains(stale[1]));
  EXPECT_TRUE(found.value(current, Json()).contains("unique_id"));
  bridge_->stop(SIGTERM);

  bridge_.emplace(RADIOBRIDGE_PATH, bridgeArgs(joined({line, {"--no-discovery"}})));
  EXPECT_TRUE(pollFor(10, [&] { return configs().size() == kUses.size() + 2 + 2; }))
      << configs().dump();
  EXPECT_TRUE(others() && configs().contains(foreign[0]) && configs().contains(foreign[1]));
}

// A radio that lacks get-split, refused twice, is read no more: the state and the dashboard
// leave it out, a set-freq costs its one exchange, and a client's own get-split still goes.
TEST_F(DiscoveryTest, RadioLackingAReaderCostsNoMoreThanAWholeOne) {
  start({}, {"--without", "get-split"});
  publish("set-freq 145.5M");  // the read after it is the second refused get-split
  ASSERT_TRUE(broker_.retainedHolds(kState, R"("unsupported":["get-split"])")) << bridge_->errors();
  EXPECT_TRUE(pollFor(10, [&] { return configs("radioline_bus_20").size() == kUses.size() - 1; }));
  const std::size_t before = sim_->output().size();
  publish("set-freq 146M\nset-freq 147M", {"-l"});
  ASSERT_TRUE(replies_->waitForMessages(3)) << bridge_->errors();
  EXPECT_EQ(sim_->output().substr(before),
            "VFO set to 146.000000 MHz\nVFO set to 147.000000 MHz\n");
  EXPECT_EQ(codeOf(radioctl({"--json", "get-split"}).out), "refused");
}

}  // namespace
