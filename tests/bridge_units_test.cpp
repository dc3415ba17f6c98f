// SPDX-License-Identifier: MIT
// radiobridge without a broker: admitting requests, deadlines and stalls, topics, radio state and
// upkeep, the fair request queue, the busy log's rate, the line's back-off, the metrics and the
// command line.
#include <gtest/gtest.h>

#include <iterator>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "backoff.h"
#include "claim.h"
#include "codec.h"
#include "deadline.h"
#include "discovery.h"
#include "log.h"
#include "metrics.h"
#include "options.h"
#include "queue.h"
#include "radio_state.h"
#include "upkeep.h"

namespace {

using namespace radiobridge;
using std::chrono::seconds;
using namespace std::chrono_literals;

const common::Topics kTopics("radioline/sim", {}, {0x20});

TEST(BridgeCodec, AnswersAllButOneValidCommandWithUsage) {
  // Whether it is queued, the payload, and part of the error message or the queued command's name.
  const std::tuple<bool, std::string, std::string> rows[] = {
      {true, "set-freq 145.5M", "set-freq"},
      {true, R"({"command":" set-offset -600k ","transaction":"t1"})", "set-offset"},
      {false, "fly \xe2\x82", "not UTF-8"},
      {false, "fly \xe2\x82\xac", "unknown command 'fly"},
      {false, "{\"command\":", "not valid JSON"},
      {false, R"({"command":5})", "\"command\" must be a string"},
      {false, R"({"command":"version","transaction":7})", "\"transaction\" must be a string"},
      {false, "version get-offset", "get-offset"},
      {false, R"({"command":"version","interim":1})", "\"interim\" must be true or false"},
  };
  for (const auto &[queued, payload, part] : rows) {
    const Incoming in{"radioline/sim/20/request", payload, payload.size(), {}, {}, false, {}, {}};
    const Admission got = admit(in, kTopics, seconds(30));
    EXPECT_EQ(got.outcome, queued ? Admission::Outcome::kQueued : Admission::Outcome::kAnswered);
    const std::string said = queued ? got.request.name : got.reply["error"].value("message", "");
    EXPECT_NE(said.find(part), std::string::npos) << said;
    EXPECT_TRUE(queued || got.reply["error"]["code"] == "usage") << got.reply;
  }
}

// A message read after a stall of the network thread counts as received when it last ran.
TEST(BridgeDeadline, MessageReadAfterAStallIsAsOldAsTheStall) {
  const Clock::time_point ran = Clock::now();
  // Seconds since the thread last ran, the message's expiry (none: 30 s), whether it expired.
  const std::tuple<int, std::optional<long>, bool> rows[] = {
      {1, 1, false}, {3, 1, false}, {4, 30, false}, {45, 1, true}, {45, std::nullopt, true}};
  for (const auto &[gap, expiry, gone] : rows) {
    const Clock::time_point now = ran + seconds(gap);
    EXPECT_EQ(expired(now, deadlineOf(receivedAt(now, ran), expiry, seconds(30))), gone) << gap;
  }
}

// Each row: events fed to a claim of ours (started at 100 s, keepalive 10 s), and what it says
// to each, a letter each: . nothing, c check the status, w watch it, t take the line, p publish
// the status, y yield. Events: connect, end (of what was retained), online (live), kept (online,
// retained), elder (online, from an instance that names only a host, and not as text: what it
// lacks counts as 0, so it is the older), offline, disconnect, stop, and a number: the clock's
// second.
TEST(BridgeClaim, TakesALineNoLiveBridgeServesKeepsItFromYounger) {
  const std::pair<const char *, const char *> rows[] = {
      {"connect online", "cy"},             // another bridge is alive
      {"connect kept end 14 15", "c.w.t"},  // a kept status's bridge stays silent 1.5 keepalives
      // A status that replaced ours, a younger bridge's or a dead one's will, is replaced.
      {"connect offline end online offline elder", "c.tppy"},
      // A kept status's bridge goes offline; the status comes again every half keepalive; a claim
      // lasts one connection.
      {"connect kept end offline 4 5 disconnect 12 connect end", "c.wt.p..ct"},
      // Stopping: "offline" is the last word.
      {"connect end stop 6 elder disconnect connect end", "ct......"},
  };
  for (const auto &[events, expected] : rows) {
    Claim claim(instanceId("us", 1, 100), "bus", 10);
    std::string said, event;
    for (std::istringstream in(events); in >> event;) {
      const Json them = event == "elder" ? Json{{"host", 5}} : instanceId("them", 2, 200);
      Claim::Step step;
      if (event == "connect") step = claim.connected();
      if (event == "end") step = claim.retainedEnd({});
      if (event == "disconnect") claim.disconnected();
      if (event == "stop") claim.stop();
      if (event[0] <= '9') step = claim.tick(Clock::time_point() + seconds(std::stoi(event)));
      if (event == "online" || event == "kept" || event == "elder" || event == "offline")
        step = claim.statusSeen(event != "offline", them, event == "kept", {});
      said += ".cwtpy"[static_cast<int>(step.action)];
    }
    EXPECT_EQ(said, expected) << events;
  }
}

// A recalled slot brings its own frequency, duplex and tones: what was set
// is forgotten and the codeplug read again.
TEST(BridgeState, RecalledModeForgetsWhatWasSet) {
  RadioState state;
  const auto run = [&state](const std::string &line) {
    return noteSuccess(state, common::planLine(line).invocations.front(), Json::object());
  };
  run("set-freq 145.5M");
  run("set-pl 88.5 --rx");
  EXPECT_STREQ(run("recall-mode"), "get-codeplug");
  EXPECT_EQ(state.last_set, Json::object());
}

using O = Upkeep::Outcome;

// After the exchanges of each row (following a whole read of the state, when the row says so):
// what is due, whether the radio is available, whether its requests are refused at once while
// a heartbeat watches it, and which readers it lacks.
TEST(BridgeUpkeep, ReadsWhatIsDueOnceTheRadioAnswers) {
  const std::vector<std::string> &all = stateReaders();
  using Steps = std::vector<std::pair<std::string, O>>;
  using Names = std::vector<std::string>;
  // clang-format off
  const std::tuple<bool, Steps, Names, bool, bool, Names> rows[] = {
      {false, {{"version", O::kSilent}}, {}, false, false, {}},  // it never answered
      {true, {{"get-offset", O::kSilent}}, {}, true, false, {}},
      {true, {{"set-offset", O::kSilent}, {"version", O::kAnswered}}, {"get-offset"}, true, false, {}},
      {true, Steps(3, {"set-freq", O::kSilent}), {}, false, true, {}},
      {true, Steps(3, {"get-split", O::kRefused}), {}, true, false, {"get-split"}},
      {true, {{"get-split", O::kRefused}, {"get-split", O::kAnswered}}, {}, true, false, {}},
      {true, {{"set-config", O::kRefused}}, {"get-config"}, true, false, {}},
      {true, {{"set-freq", O::kLineLost}}, {}, true, false, {}},
  };
  // clang-format on
  for (const auto &[whole, steps, due, available, refused, lacks] : rows) {
    Upkeep upkeep(all);
    for (const std::string &reader : whole ? all : Names{}) upkeep.exchanged(reader, O::kAnswered);
    for (const auto &[command, outcome] : steps)
      upkeep.exchanged(command, outcome, readBackOf(command));
    SCOPED_TRACE(steps.empty() ? "none" : steps.back().first);
    EXPECT_EQ(upkeep.due(), due);
    EXPECT_EQ(upkeep.available(), available);
    EXPECT_EQ(upkeep.refuses(true), refused);
    EXPECT_FALSE(upkeep.refuses(false));  // with no heartbeat, nothing else would try it
    EXPECT_EQ(upkeep.unsupported(), lacks);
  }
}

// The log says when the radio went or came back, and only then.
TEST(BridgeUpkeep, TellsEachChangeOfAvailabilityOnce) {
  Upkeep upkeep(stateReaders());
  std::string told;
  for (const O outcome : {O::kSilent, O::kSilent, O::kRefused, O::kAnswered})
    told += upkeep.exchanged("version", outcome) + ";";
  EXPECT_EQ(told, "unavailable;;available;;");
}

TEST(BridgeUpkeep, NewVersionForgetsWhatTheRadioLacked) {
  Upkeep upkeep(stateReaders());
  for (int refusal = 0; refusal < 2; ++refusal) upkeep.exchanged("get-split", O::kRefused);
  upkeep.versionChanged();
  EXPECT_EQ(upkeep.due(),
            (std::vector<std::string>{"get-codeplug", "get-config", "get-offset", "get-split"}));
}

// Names that differ only in what is not a letter or digit have nodes of their own.
TEST(BridgeDiscovery, NodeIsOneToOneWithBaseLineAndRadio) {
  const std::tuple<std::string, std::string, std::string> rows[] = {
      {"radioline", "ttyUSB0", "radioline_ttyUSB0_20"},
      {"radioline", "shack 1", "radioline_shack-201_20"},
      {"radioline", "shack_1", "radioline_shack-5f1_20"},
      {"radio_line", "az-\xc3\xb6", "radio-5fline_az-2d-c3-b6_20"}};
  for (const auto &[base, line, node] : rows)
    EXPECT_EQ(Discovery({true, "homeassistant", base, line}, kTopics).node(0x20), node);
}

// Ten requests from six requesters pushed to a queue of eight.
TEST(BridgeQueue, TakesEachRequesterUpToAQuarterUntilFull) {
  RequestQueue queue(8);
  std::string pushed;  // per push: queued, full, over the requester's share, closed
  for (const char *requester :
       {"bob", "bob", "bob", "alice", "carol", "dave", "alice", "erin", "erin", "frank"}) {
    Request request;
    request.requester = requester;
    pushed += "qfsc"[static_cast<int>(queue.push(request))];
  }
  EXPECT_EQ(pushed, "qqsqqqqqqf");
}

TEST(BridgeQueue, ClosedQueueRefusesNewRequests) {
  RequestQueue queue(8);
  Request request;
  queue.close();
  EXPECT_EQ(queue.push(request), RequestQueue::Push::kClosed);
  EXPECT_EQ(queue.wait(Clock::now(), request), RequestQueue::Wake::kClosed);
}

TEST(BridgeQueue, QueueOfThreeTakesOneRequestPerRequester) {
  EXPECT_EQ(RequestQueue(3).push(Request{}), RequestQueue::Push::kQueued);
}

TEST(BridgeLog, WritesTheFirstBusyThenOneCountPerPeriod) {
  testing::internal::CaptureStderr();
  RateLog log(seconds(10), "requests answered busy");
  const Clock::time_point start = Clock::now();
  const auto at = [start](int second) { return start + seconds(second); };
  for (const int second : {0, 1, 9}) log.note(std::to_string(second), at(second));
  log.flush(at(10));
  log.note("12", at(12));
  for (const int second : {20, 30}) log.flush(at(second));  // the second ends the run
  log.note("31", at(31));
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "0\n2 requests answered busy in the last 10 s\n"
            "1 requests answered busy in the last 10 s\n31\n");
}

// 1 s after the first failure, doubling after each further one up to 30 s;
// a reset starts the count again.
// At 100.5 s the last minute began at 41 s: an exchange that ended before is out, one that
// ended then counts, with none of its time. A bridge 0.8 s old counts over its life.
TEST(BridgeMetrics, CountsTheLastMinuteOrTheBridgesLifeIfShorter) {
  const auto at = [](int ms, int us = 0) { return Clock::time_point(ms * 1ms + us * 1us); };
  Metrics metrics(at(0));
  metrics.exchanged(at(0), at(600));
  EXPECT_EQ(metrics.report(at(800), {})["last_minute"]["line_busy"], 0.75);
  metrics.exchanged(at(40500), at(41000));
  metrics.exchanged(at(59500), at(61500));
  for (int n = 0; n < 98; ++n) metrics.exchanged(at(70000 + 100 * n), at(70010 + 100 * n, 400));
  metrics.exchanged(at(90000), at(90050));
  for (int ms : {5000, 95000}) metrics.answered({{"ok", true}}, at(ms));
  metrics.lineReopened();
  const Json report = metrics.report(at(100500), {1, 4});
  EXPECT_EQ(report["last_minute"].dump(), R"({"requests":1,"line_busy":0.052,"exchanges":101,)"
                                          R"("exchange_ms":{"median":10.4,"p99":500.0}})");
  EXPECT_EQ(report["line_reopens"], 1);
}

TEST(BridgeBackoff, DoublesFromOneSecondUpToThirtyUntilReset) {
  Backoff backoff(seconds(1), seconds(30));
  for (const int wait : {1, 2, 4, 8, 16, 30, 30}) {
    backoff.failed();
    EXPECT_EQ(backoff.next(), seconds(wait));
  }
  backoff.reset();
  backoff.failed();
  EXPECT_EQ(backoff.next(), seconds(1));
}

// The options in `line`, split at spaces.
ParsedOptions parse(const std::string &line) {
  std::istringstream in("radiobridge " + line);
  std::vector<std::string> words{std::istream_iterator<std::string>(in), {}};
  std::vector<char *> argv(words.size());
  for (std::size_t i = 0; i < words.size(); ++i) argv[i] = words[i].data();
  return parseOptions(static_cast<int>(argv.size()), argv.data());
}

// The device's base name, or "sim", names the line and its reply prefix.
TEST(BridgeOptions, LineIsNamedAfterItsDevice) {
  const std::pair<const char *, std::string> rows[] = {{"-d /dev/ttyUSB0", "ttyUSB0"},
                                                       {"--simulate", "sim"}};
  for (const auto &[line, name] : rows) {
    const Options options = parse(line).options;
    EXPECT_EQ(options.broker.line, name);
    EXPECT_EQ(options.reply_prefix, "radioline/" + name + "/reply/");
  }
}

TEST(BridgeOptions, ServesEachRadioGivenInOrder) {
  const Options options = parse("-d x --radio 0x22 --radio 33").options;
  EXPECT_EQ(options.radios, (std::vector<int>{0x22, 33}));
  EXPECT_EQ(options.line.radio, 0x22);
}

TEST(BridgeOptions, BadCommandLineIsAUsageError) {
  for (const char *line :
       {"", "-d x --radio 0", "-d x --radio 0x21 --radio 33", "-d x --broker host:0",
        "-d x --user u", "-d x --simulate", "-d x --topic-base a/#", "-d x --keepalive 4",
        "-d x --controller 0", "-d x --name a\x01b", "-d x --reply-prefix a+/",
        "-d x --reply-prefix a/#", "-d x -b 49", "-d x --heartbeat -1", "-d x --queue-size 0",
        "-d x --request-expiry 0", "-d x --discovery-prefix a/+"}) {
    const ParsedOptions parsed = parse(line);
    EXPECT_EQ(parsed.status, common::kExitUsage) << line;
    EXPECT_EQ(parsed.error.rfind("radiobridge: ", 0), 0u) << parsed.error;
  }
}

}  // namespace
