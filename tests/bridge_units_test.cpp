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

TEST(BridgeCodec, AnswersAllButOneValidCommandWithUsage) {
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

// A radio's state after a reader's result and two setters no reader shows.
class BridgeState : public ::testing::Test {
 protected:
  void SetUp() override {
    run("get-offset", {{"ok", true}, {"offset", -600000}});
    run("set-freq 145.5M", {});
    run("set-pl 88.5 --rx", {});
  }
  const char *run(const std::string &line, const Json &result) {
    return noteSuccess(state_, common::planLine(line).invocations.front(), result);
  }
  RadioState state_;
};

TEST_F(BridgeState, KeepsReadValuesBesideWhatWasSet) {
  EXPECT_EQ(
      stateObject(state_).dump(),
      R"({"available":true,"offset":-600000,"last_set":{"freq":145500000,"pl":{"rx":88.5}}})");
}

TEST_F(BridgeState, SetterNamesTheReaderThatShowsItsValue) {
  EXPECT_EQ(run("set-freq 145.5M", {}), nullptr);
  EXPECT_STREQ(run("set-offset 1k", {}), "get-offset");
  EXPECT_STREQ(run("recall-mode", {}), "get-codeplug");
}

TEST_F(BridgeState, RecalledModeForgetsWhatWasSet) {
  run("recall-mode", {});
  EXPECT_EQ(state_.last_set, Json::object());
}

using Wake = RequestQueue::Wake;

Clock::time_point soon() {
  return Clock::now() + std::chrono::milliseconds(1);
}

// A queue of eight that ten requests from six requesters were pushed to.
class BridgeQueue : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char *requester :
         {"bob", "bob", "bob", "alice", "carol", "dave", "alice", "erin", "erin", "frank"}) {
      request_.requester = requester;
      pushed_ += "qfsc"[static_cast<int>(queue_.push(request_))];
    }
  }
  RequestQueue queue_{8};
  Request request_;
  std::string pushed_;  // per push: queued, full, over the requester's share, closed
};

TEST_F(BridgeQueue, TakesEachRequesterUpToAQuarterUntilFull) {
  EXPECT_EQ(pushed_, "qqsqqqqqqf");
}

TEST_F(BridgeQueue, ServesRequestersInTurn) {
  std::string order;
  for (int n = 0; n < 7 && queue_.wait(soon(), request_) == Wake::kRequest; ++n)
    order += request_.requester + " ";
  EXPECT_EQ(order, "bob alice carol dave erin bob alice ");
}

TEST_F(BridgeQueue, RepublishComesBeforeRequests) {
  queue_.askRepublish();
  EXPECT_EQ(queue_.wait(soon(), request_), Wake::kRepublish);
}

TEST_F(BridgeQueue, ClosedQueueRefusesNewRequests) {
  queue_.close();
  EXPECT_EQ(queue_.push(request_), RequestQueue::Push::kClosed);
  EXPECT_EQ(queue_.wait(soon(), request_), Wake::kClosed);
  EXPECT_EQ(queue_.drain().size(), 8u);
}

TEST(BridgeQueueSize, QueueOfThreeTakesOneRequestPerRequester) {
  EXPECT_EQ(RequestQueue(3).push(Request{}), RequestQueue::Push::kQueued);
}

TEST(BridgeQueueSize, CloseEndsAWaitAtOnce) {
  RequestQueue idle(1);
  Request request;
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

TEST(BridgeBackoff, DoublesFromOneSecondUpToThirty) {
  Backoff backoff(seconds(1), seconds(30));
  for (const int wait : {1, 2, 4, 8, 16, 30, 30}) {
    backoff.failed();
    EXPECT_EQ(backoff.next(), seconds(wait));
  }
}

TEST(BridgeBackoff, StartsAgainFromOneSecondAfterReset) {
  Backoff backoff(seconds(1), seconds(30));
  for (int n = 0; n < 3; ++n) backoff.failed();
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

TEST(BridgeOptions, LineIsNamedAfterTheDevice) {
  const Options options = parse("-d /dev/ttyUSB0").options;
  EXPECT_EQ(options.broker.line, "ttyUSB0");
  EXPECT_EQ(options.reply_prefix, "radioline/ttyUSB0/reply/");
}

TEST(BridgeOptions, SimulatedLineIsNamedSim) {
  EXPECT_EQ(parse("--simulate").options.broker.line, "sim");
}

TEST(BridgeOptions, TlsBrokerDefaultsToPort8883) {
  const Options tls = parse("--simulate --cafile ca.pem --broker [::1]").options;
  EXPECT_EQ(std::tie(tls.broker.host, tls.broker.port), std::make_tuple("::1", 8883));
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
    EXPECT_EQ(parsed.status, kExitUsage) << line;
    EXPECT_FALSE(parsed.run) << line;
    EXPECT_EQ(parsed.error.rfind("radiobridge: ", 0), 0u) << parsed.error;
  }
}

}  // namespace
