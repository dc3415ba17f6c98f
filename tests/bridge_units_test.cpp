// SPDX-License-Identifier: MIT
// radiobridge without a broker: admitting requests, replies and state, the request queue, the
// line's back-off and the command line.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "backoff.h"
#include "codec.h"
#include "options.h"
#include "queue.h"

namespace {

using namespace radiobridge;
using std::chrono::seconds;

const Topics kTopics("radioline/sim", "radioline/sim/reply/");

Incoming message(const std::string &payload) {
  Incoming in;
  in.topic = "radioline/sim/20/request";
  in.payload = payload;
  in.payload_size = payload.size();
  in.received = Clock::time_point(seconds(1000));
  return in;
}

TEST(BridgeCodec, AdmitsOneValidCommandAndAnswersEverythingElseAtOnce) {
  struct Row {
    Incoming in;
    Admission::Action action;
    std::string route;    // the reply's topic
    std::string problem;  // part of the error message, or the command's name when queued
  };
  Incoming json = message(R"({"command":" set-offset -600k ","transaction":"t1"})");
  json.response_topic = "radioline/sim/reply/c1";
  json.correlation = std::string("\0x", 2);
  Incoming foreign = message("version");
  foreign.response_topic = "radioline/sim/20/state";
  Incoming retained = message("set-freq 145.5M");
  retained.retained = true;
  Incoming cleared = message("");
  cleared.retained = true;
  Incoming huge = message("version");
  huge.payload_size = 1 << 20;
  const std::string response = "radioline/sim/20/response";
  const auto usage = [&](const char *payload, const char *problem) {
    return Row{message(payload), Admission::Action::kAnswer, response, problem};
  };
  const Row rows[] = {
      {message("set-freq 145.5M"), Admission::Action::kQueue, response, "set-freq"},
      {json, Admission::Action::kQueue, "radioline/sim/reply/c1", "set-offset"},
      {foreign, Admission::Action::kAnswer, response, "is not under 'radioline/sim/reply/'"},
      {retained, Admission::Action::kAnswer, response, "retained requests are not executed"},
      {cleared, Admission::Action::kDrop, response, ""},
      {huge, Admission::Action::kAnswer, response, "longer than the 4096"},
      usage("\xff\xfe", "not UTF-8"),
      usage("\xc0\xaf", "not UTF-8"),
      usage("\xed\xa0\x80", "not UTF-8"),
      usage("fly \xe2\x82", "not UTF-8"),
      usage("fly \xe2\x82\xac", "unknown command 'fly"),
      usage("{\"command\":", "not valid JSON"),
      usage(R"({"command":5})", "\"command\" must be a string"),
      usage(R"({"command":"version","transaction":7})", "\"transaction\" must be a string"),
      usage("", "no command given"),
      usage("version get-offset", "get-offset"),
      usage("set-freq 1x", "1x"),
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.in.payload);
    const Admission got = admit(row.in, kTopics, seconds(30));
    EXPECT_EQ(got.action, row.action);
    if (row.action == Admission::Action::kDrop) continue;
    EXPECT_EQ(got.request.route.topic, row.route);
    EXPECT_EQ(got.request.route.correlation, row.in.correlation);
    const std::string said = row.action == Admission::Action::kQueue
                                 ? got.request.name
                                 : got.reply["error"]["message"].get<std::string>();
    EXPECT_NE(said.find(row.problem), std::string::npos) << said;
    if (row.action == Admission::Action::kAnswer) {
      EXPECT_EQ(got.reply["error"]["code"], "usage");
    }
    EXPECT_EQ(got.clear_retained, row.in.retained);
  }
}

TEST(BridgeCodec, RepliesEchoTheTransactionAndRequestsExpireByTheirOwnExpiryFirst) {
  Incoming in = message(R"({"command":"version","transaction":"t9"})");
  const Request defaulted = admit(in, kTopics, seconds(30)).request;
  EXPECT_EQ(defaulted.expires, in.received + seconds(30));
  in.expiry_seconds = 4;
  const Request request = admit(in, kTopics, seconds(30)).request;
  EXPECT_EQ(request.expires, in.received + seconds(4));
  const Json busy = failure(request, kCodeBusy, 0, "full");
  EXPECT_EQ(busy.dump(), R"({"command":"version","ok":false,"error":{"code":"busy","errno":0,)"
                         R"("message":"full"},"transaction":"t9"})");
  EXPECT_EQ(logEntry(request, busy, std::chrono::milliseconds(7)), "radio 20 version: busy (7 ms)");
  EXPECT_EQ(logEntry(request, reply(request, {{"ok", true}}), std::chrono::milliseconds(0)),
            "radio 20 version: ok (0 ms)");
}

TEST(BridgeCodec, RequestTopicsNameTheRadioAndRepliesStayUnderThePrefix) {
  EXPECT_EQ(kTopics.radioOf("radioline/sim/2a/request"), 0x2a);
  for (const char *topic : {"radioline/sim/2A/request", "radioline/simx/20/request",
                            "radioline/sim/20/requests", "radioline/sim/020/request"}) {
    EXPECT_EQ(kTopics.radioOf(topic), std::nullopt) << topic;
  }
  EXPECT_TRUE(kTopics.replyAllowed("radioline/sim/reply/x"));
  for (const char *topic :
       {"radioline/sim/reply/", "radioline/sim/20/state", "radioline/sim/reply/+"}) {
    EXPECT_FALSE(kTopics.replyAllowed(topic)) << topic;
  }
}

TEST(BridgeCodec, StateKeepsReadValuesAndWhatWasSetAndNamesTheReadBack) {
  RadioState state;
  const auto run = [&state](const std::string &line, const Json &result) {
    return noteSuccess(state, radioctl::planLine(line).invocations.front(), result);
  };
  EXPECT_STREQ(run("set-offset -600k", {{"command", "set-offset"}, {"ok", true}}), "get-offset");
  EXPECT_EQ(run("get-offset", {{"command", "get-offset"}, {"ok", true}, {"offset", -600000}}),
            nullptr);
  EXPECT_EQ(run("set-freq 145.5M", {}), nullptr);
  run("set-pl 88.5 --rx", {});
  EXPECT_EQ(
      stateObject(state).dump(),
      R"({"available":true,"offset":-600000,"last_set":{"freq":145500000,"pl":{"rx":88.5}}})");
  EXPECT_STREQ(run("recall-mode", {}), "get-codeplug");
  EXPECT_EQ(state.last_set, Json::object());
}

TEST(BridgeQueue, KeepsArrivalOrderRefusesBeyondItsSizeAndPutsRepublishFirst) {
  RequestQueue queue(2);
  Request request;
  for (int radio : {1, 2, 3}) {
    request.radio = radio;
    EXPECT_EQ(queue.push(request),
              radio < 3 ? RequestQueue::Push::kQueued : RequestQueue::Push::kFull);
  }
  queue.askRepublish();
  const auto soon = [] { return Clock::now() + std::chrono::milliseconds(1); };
  EXPECT_EQ(queue.wait(soon(), request), RequestQueue::Wake::kRepublish);
  EXPECT_EQ(queue.wait(soon(), request), RequestQueue::Wake::kRequest);
  EXPECT_EQ(request.radio, 1);
  queue.close();
  EXPECT_EQ(queue.push(request), RequestQueue::Push::kClosed);
  EXPECT_EQ(queue.wait(soon(), request), RequestQueue::Wake::kClosed);
  ASSERT_EQ(queue.drain().size(), 1u);
  RequestQueue idle(1);
  EXPECT_EQ(idle.wait(soon(), request), RequestQueue::Wake::kTimeout);
}

TEST(BridgeQueue, ClosingEndsAWaitLongBeforeItsDeadline) {
  RequestQueue queue(1);
  std::thread closer([&queue] { queue.close(); });
  Request request;
  EXPECT_EQ(queue.wait(Clock::now() + std::chrono::hours(1), request), RequestQueue::Wake::kClosed);
  closer.join();
}

TEST(BridgeBackoff, DoublesFromOneSecondUpToThirtyAndStartsAgainAfterReset) {
  Backoff backoff(seconds(1), seconds(30));
  std::vector<long> waits;
  for (int i = 0; i < 7; ++i) {
    backoff.failed();
    waits.push_back(static_cast<long>(backoff.next().count()));
  }
  EXPECT_EQ(waits, (std::vector<long>{1, 2, 4, 8, 16, 30, 30}));
  backoff.reset();
  backoff.failed();
  EXPECT_EQ(backoff.next(), seconds(1));
}

TEST(BridgeOptions, ReadsDefaultsFromTheDeviceAndRefusesBadCommandLines) {
  const auto parse = [](std::vector<std::string> words) {
    words.insert(words.begin(), "radiobridge");
    std::vector<char *> argv;
    for (std::string &word : words) argv.push_back(word.data());
    return parseOptions(static_cast<int>(argv.size()), argv.data());
  };
  const ParsedOptions plain = parse({"-d", "/dev/ttyUSB0"});
  ASSERT_TRUE(plain.run);
  EXPECT_EQ(plain.options.name, "ttyUSB0");
  EXPECT_EQ(plain.options.reply_prefix, "radioline/ttyUSB0/reply/");
  EXPECT_EQ(plain.options.radios, std::vector<int>{0x20});
  const ParsedOptions tls = parse({"--simulate", "--cafile", "ca.pem", "--broker", "[::1]"});
  EXPECT_EQ(tls.options.name, "sim");
  EXPECT_EQ(tls.options.host, "::1");
  EXPECT_EQ(tls.options.port, 8883);
  const std::vector<std::vector<std::string>> usage{
      {},
      {"-d", "/dev/x", "--radio", "0"},
      {"-d", "/dev/x", "--radio", "0x21", "--radio", "33"},
      {"-d", "/dev/x", "--broker", "host:0"},
      {"-d", "/dev/x", "--user", "u"},
      {"-d", "/dev/x", "--simulate"},
      {"-d", "/dev/x", "--topic-base", "a/#"},
      {"-d", "/dev/x", "--keepalive", "4"},
  };
  for (const auto &words : usage) {
    const ParsedOptions parsed = parse(words);
    EXPECT_FALSE(parsed.run);
    EXPECT_EQ(parsed.status, kExitUsage);
    EXPECT_EQ(parsed.error.rfind("radiobridge: ", 0), 0u) << parsed.error;
  }
}

}  // namespace
