// SPDX-License-Identifier: MIT
// Fuzz: every message the bridge takes in has one outcome, a reply goes only where its sender may
// read, and only text an independent UTF-8 decoder accepts is ever queued.
#include <clocale>
#include <cstdint>
#include <cwchar>
#include <string>
#include <vector>

#include "fuzz_line.h"
#include "intake.h"

namespace {

using namespace radiobridge;

const Topics kTopics("radioline/sim", "radioline/sim/reply/", {0x20, 0x22});

// The first byte of an input holds these flags and the topic's form; the
// second the expiry; the rest is the topic's part, the response topic, the
// correlation data and the payload, cut at the first three kField bytes.
constexpr std::uint8_t kRetained = 0x01;
constexpr std::uint8_t kResponseTopic = 0x02;
constexpr std::uint8_t kExpiry = 0x04;
constexpr int kFormShift = 3;  // the next two bits: which topic
constexpr char kField = '\x1f';
const char *const kTopicForms[] = {"radioline/sim/20/request", "radioline/sim/20/request/",
                                   "radioline/sim/", ""};

std::vector<std::string> levels(const std::string &topic) {
  std::vector<std::string> found{{}};
  for (const char c : topic) {
    if (c == '/') {
      found.emplace_back();
    } else {
      found.back() += c;
    }
  }
  return found;
}

// Whether the sender of a request on `topic` may read `route`: its radio's
// response topic, or a topic below the reply level, both with its user's
// level when it asked on a topic of its own (radioline/sim/R/request/USER).
bool readable(const std::string &route, const std::string &topic) {
  const std::vector<std::string> asked = levels(topic);
  const std::vector<std::string> to = levels(route);
  if (asked.size() < 4 || asked.size() > 5) return false;
  const std::vector<std::string> user(asked.begin() + 4, asked.end());
  std::vector<std::string> response{"radioline", "sim", asked[2], "response"};
  std::vector<std::string> replies{"radioline", "sim", "reply"};
  response.insert(response.end(), user.begin(), user.end());
  replies.insert(replies.end(), user.begin(), user.end());
  const bool below = to.size() > replies.size() &&
                     std::equal(replies.begin(), replies.end(), to.begin()) &&
                     route.find_first_of("+#") == std::string::npos;
  return to == response || below;
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

Incoming message(const std::uint8_t *data, std::size_t size) {
  std::vector<std::string> fields{{}};
  for (std::size_t i = 2; i < size; ++i) {
    if (data[i] == kField && fields.size() < 4) {
      fields.emplace_back();
    } else {
      fields.back() += static_cast<char>(data[i]);
    }
  }
  fields.resize(4);
  Incoming in;
  in.topic = kTopicForms[(data[0] >> kFormShift) & 3] + fields[0];
  if ((data[0] & kResponseTopic) != 0) in.response_topic = fields[1];
  in.correlation = fields[2];
  in.payload = fields[3];
  in.payload_size = in.payload.size();
  in.retained = (data[0] & kRetained) != 0;
  if ((data[0] & kExpiry) != 0) in.expiry_seconds = data[1];
  in.received = Clock::now();
  return in;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  static const bool utf8 = std::setlocale(LC_CTYPE, "C.UTF-8") != nullptr;
  require(utf8, "a UTF-8 locale to decode with");
  if (size < 2) return 0;
  const Incoming in = message(data, size);
  RequestQueue queue(4);
  const Intake intake = take(in, kTopics, std::chrono::seconds(30), queue);
  const std::vector<Request> queued = queue.drain();
  const bool is_queued = intake.outcome == Intake::Outcome::kQueued;
  const bool replied =
      intake.outcome == Intake::Outcome::kAnswered || intake.outcome == Intake::Outcome::kBusy;
  require(queued.size() == (is_queued ? 1u : 0u), "a queued message, and only it, waits");
  require(replied == !intake.reply.is_null(), "an answered message, and only it, has a reply");
  if (replied) {
    require(intake.reply.value("ok", true) == false, "a message answered at once failed");
    require(readable(intake.request.route.topic, in.topic), "a reply only where its sender reads");
  }
  if (!is_queued) return 0;
  const Request &request = queued.front();
  require(decodes(in.payload), "queued text is UTF-8 to the C library too");
  require(readable(request.route.topic, in.topic), "a queued reply only where its sender reads");
  require(request.invocation.command != nullptr && kTopics.serves(request.radio) && !in.retained &&
              request.expires >= in.received,
          "a queued request runs a command on a served radio, live and not retained");
  return 0;
}
