// SPDX-License-Identifier: MIT
// Fuzz: every message the bridge takes in has one outcome, a reply goes only where its sender may
// read, and only text an independent UTF-8 decoder accepts is ever queued.
#include <fuzzer/FuzzedDataProvider.h>

#include <clocale>
#include <cwchar>
#include <string>

#include "fuzz_line.h"
#include "intake.h"

namespace {

using namespace radiobridge;

const std::string kLine = "radioline/sim/";
const common::Topics kTopics("radioline/sim", {}, {0x20, 0x22});

// Whether the sender of a request on `topic`, LINE/R/request[/USER], may
// read `route`: LINE/R/response[/USER], or a topic below LINE/reply/[USER/].
bool readable(const std::string &route, const std::string &topic) {
  const std::size_t request = topic.find("/request", kLine.size());
  if (topic.compare(0, kLine.size(), kLine) != 0 || request == std::string::npos) return false;
  const std::string user = topic.substr(request + 8);  // "" or "/USER"
  const std::string replies = kTopics.replyPrefix(user.empty() ? user : user.substr(1));
  return route == topic.substr(0, request) + "/response" + user ||
         (route.compare(0, replies.size(), replies) == 0 && route.size() > replies.size() &&
          route.find_first_of("+#") == std::string::npos);
}

// Whether the C library's decoder, in a UTF-8 locale, reads all of `text`.
bool decodes(const std::string &text) {
  std::mbstate_t state{};
  for (std::size_t i = 0; i < text.size();) {
    wchar_t c = 0;
    const std::size_t n = std::mbrtowc(&c, text.data() + i, text.size() - i, &state);
    if (n == static_cast<std::size_t>(-1) || n == static_cast<std::size_t>(-2)) return false;
    i += n == 0 ? 1 : n;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *bytes, std::size_t size) {
  static const bool utf8 = std::setlocale(LC_CTYPE, "C.UTF-8") != nullptr;
  require(utf8, "a UTF-8 locale to decode with");
  // Strings first, each ended by a lone backslash; the flags and numbers
  // come from the input's end; the payload is what is left.
  static const char *const forms[] = {"20/request", "20/request/", "", "/"};
  FuzzedDataProvider data(bytes, size);
  Incoming in;
  in.topic = kLine + forms[data.ConsumeIntegralInRange(0, 3)] + data.ConsumeRandomLengthString();
  if (data.ConsumeBool()) in.response_topic = data.ConsumeRandomLengthString();
  in.correlation = data.ConsumeRandomLengthString();
  in.retained = data.ConsumeBool();
  if (data.ConsumeBool()) in.expiry_seconds = data.ConsumeIntegral<std::uint8_t>();
  in.payload = data.ConsumeRemainingBytesAsString();
  in.payload_size = in.payload.size();
  in.received = Clock::now();
  RequestQueue queue(4);
  const Admission intake = take(in, in.received, kTopics, std::chrono::seconds(30), queue);
  const std::vector<Request> queued = queue.drain();
  const bool is_queued = intake.outcome == Admission::Outcome::kQueued;
  const bool replied = !intake.reply.is_null();
  require(queued.size() == (is_queued ? 1u : 0u), "a queued message, and only it, waits");
  require(replied == (intake.outcome == Admission::Outcome::kAnswered ||
                      intake.outcome == Admission::Outcome::kBusy),
          "an answered message, and only it, has a reply");
  require(!replied ||
              (!intake.reply.value("ok", true) && readable(intake.request.route.topic, in.topic)),
          "a message answered at once failed, and its reply goes where its sender reads");
  require(intake.interim.is_null() || is_queued, "an interim message goes with a queued request");
  if (!is_queued) return 0;
  const Request &request = queued.front();
  require(decodes(in.payload), "queued text is UTF-8 to the C library too");
  require(readable(request.route.topic, in.topic) && request.invocation.command != nullptr &&
              kTopics.serves(request.radio) && !in.retained && request.expires >= in.received,
          "a queued request runs a command on a served radio, live, answered where asked");
  return 0;
}
