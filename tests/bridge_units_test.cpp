// SPDX-License-Identifier: MIT
// radiobridge without a broker: admitting requests, topics, radio state, the fair request queue,
// the busy log's rate, the line's back-off and the command line.
#include <gtest/gtest.h>

#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "backoff.h"
#include "codec.h"
#include "log.h"
#include "options.h"
#include "queue.h"

namespace {

using namespace radiobridge;
using std::chrono::seconds;

const Topics kTopics("radioline/sim", "radioline/sim/reply/", {0x20});

TEST(BridgeCodec, QueuesOneValidCommandAndAnswersEverythingElseWithUsage) {
  // Whether it is queued, the payload, and part of the error message or the queued command's name.
  const std::tuple<bool, std::string, std::string> rows[] = {
      {true, "set-freq 145.5M", "set-freq"},
      {true, R"({"command":" set-offset -600k ","transaction":"t1"})", "set-offset"},
      {false, "\xf4\x90\x80\x80", "not UTF-8"},  // above U+10FFFF
      {false, "fly \xe2\x82", "not UTF-8"},
      {false, "fly \xe2\x82\xac", "unknown command 'fly"},
      {false, "{\"command\":", "not valid JSON"},
      {false, R"({"command":5})", "\"command\" must be a string"},
      {false, R"({"command":"version","transaction":7})", "\"transaction\" must be a string"},
      {false, "", "no command given"},
      {false, "version get-offset", "get-offset"},
  };
  for (const auto &[queued, payload, part] : rows) {
    Incoming in;
    in.topic = "radioline/sim/20/request";
    in.payload = payload;
    in.payload_size = payload.size();
    const Admission got = admit(in, kTopics, seconds(30));
    EXPECT_EQ(got.action, queued ? Admission::Action::kQueue : Admission::Action::kAnswer);
    const std::string said = queued ? got.request.name : got.reply["error"].value("message", "");
    EXPECT_NE(said.find(part), std::string::npos) << said;
    EXPECT_TRUE(queued || got.reply["error"]["code"] == "usage") << got.reply;
  }
}

TEST(BridgeCodec, StateKeepsReadValuesAndWhatWasSetAndNamesTheReadBack) {
  RadioState state;
  const auto run = [&state](const std::string &line, const Json &result) {
    return noteSuccess(state, common::planLine(line).invocations.front(), result);
  };
  EXPECT_EQ(run("get-offset", {{"ok", true}, {"offset", -600000}}), nullptr);
  EXPECT_EQ(run("set-freq 145.5M", {}), nullptr);
  run("set-pl 88.5 --rx", {});
  EXPECT_EQ(
      stateObject(state).dump(),
      R"({"available":true,"offset":-600000,"last_set":{"freq":145500000,"pl":{"rx":88.5}}})");
  EXPECT_STREQ(run("recall-mode", {}), "get-codeplug");
  EXPECT_EQ(state.last_set, Json::object());
}

TEST(BridgeQueue, ServesRequestersInTurnEachUpToAQuarter) {
  using Wake = RequestQueue::Wake;
  RequestQueue queue(8);
  Request request;
  std::string pushed;  // per push: queued, full, over the requester's share, closed
  for (const char *requester :
       {"bob", "bob", "bob", "alice", "carol", "dave", "alice", "erin", "erin", "frank"}) {
    request.requester = requester;
    pushed += "qfsc"[static_cast<int>(queue.push(request))];
  }
  EXPECT_EQ(pushed, "qqsqqqqqqf");
  queue.askRepublish();
  const auto soon = [] { return Clock::now() + std::chrono::milliseconds(1); };
  EXPECT_EQ(queue.wait(soon(), request), Wake::kRepublish);
  std::string order;
  for (int n = 0; n < 7 && queue.wait(soon(), request) == Wake::kRequest; ++n)
    order += request.requester + " ";
  EXPECT_EQ(order, "bob alice carol dave erin bob alice ");
  queue.close();
  EXPECT_EQ(queue.push(request), RequestQueue::Push::kClosed);
  EXPECT_EQ(queue.wait(soon(), request), Wake::kClosed);
  EXPECT_EQ(queue.drain().size(), 1u);
  EXPECT_EQ(RequestQueue(3).push(request), RequestQueue::Push::kQueued);  // a share of one
  RequestQueue idle(1);
  EXPECT_EQ(idle.wait(soon(), request), Wake::kTimeout);
  std::thread closer([&idle] { idle.close(); });
  EXPECT_EQ(idle.wait(Clock::now() + std::chrono::hours(1), request), Wake::kClosed);
  closer.join();
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

TEST(BridgeBackoff, DoublesFromOneSecondUpToThirtyAndStartsAgainAfterReset) {
  Backoff backoff(seconds(1), seconds(30));
  for (const int wait : {1, 2, 4, 8, 16, 30, 30}) {
    backoff.failed();
    EXPECT_EQ(backoff.next(), seconds(wait));
  }
  backoff.reset();
  backoff.failed();
  EXPECT_EQ(backoff.next(), seconds(1));
}

TEST(BridgeOptions, ReadsDefaultsFromTheDeviceAndRefusesBadCommandLines) {
  // The options in `line`, split at spaces.
  const auto parse = [](const std::string &line) {
    std::istringstream in("radiobridge " + line);
    std::vector<std::string> words{std::istream_iterator<std::string>(in), {}};
    std::vector<char *> argv(words.size());
    for (std::size_t i = 0; i < words.size(); ++i) argv[i] = words[i].data();
    return parseOptions(static_cast<int>(argv.size()), argv.data());
  };
  EXPECT_EQ(parse("-d /dev/ttyUSB0").options.reply_prefix, "radioline/ttyUSB0/reply/");
  const Options tls = parse("--simulate --cafile ca.pem --broker [::1]").options;
  EXPECT_EQ(std::tie(tls.broker.line, tls.broker.host, tls.broker.port),
            std::make_tuple("sim", "::1", 8883));
  for (const char *line :
       {"", "-d x --radio 0", "-d x --radio 0x21 --radio 33", "-d x --broker host:0",
        "-d x --user u", "-d x --simulate", "-d x --topic-base a/#", "-d x --keepalive 4",
        "-d x --controller 0", "-d x --name a\x01b", "-d x --name \xc2\x85", "-d x --name \xff"}) {
    const ParsedOptions parsed = parse(line);
    EXPECT_EQ(parsed.status, kExitUsage) << line;
    EXPECT_EQ(parsed.error.rfind("radiobridge: ", 0), 0u) << parsed.error;
  }
}

}  // namespace
