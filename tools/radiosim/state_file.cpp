// SPDX-License-Identifier: MIT
// Reading and writing the radio state file. Two tables name the fields, one
// for the radio as a whole and one for a VFO (used for the VFO and for every
// mode slot); each entry knows its member's JSON form and range. A syntax
// error is caught where the text is parsed and the document is then checked
// field by field, so a bad file becomes a message naming the problem. The
// "key = value" text older radiosims wrote is first turned into the JSON
// document it stands for and then checked like any other.
#include "state_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string_view>
#include <type_traits>

namespace radiosim {
namespace {

using Json = nlohmann::ordered_json;

constexpr const char *kVfoKey = "vfo";
constexpr const char *kSlotsKey = "slots";
constexpr const char *kOldSlotKey = "slot";  // "slot.N.frequency" in the old text
constexpr std::string_view kOldSeparator = " = ";
constexpr int kIndent = 2;
constexpr mode_t kFileMode = 0644;

// The struct a member pointer points into; only named, never called.
template <typename Owner, typename T>
Owner ownerOf(T Owner::*);

template <typename Owner>
struct Field {
  const char *key;
  Json (*write)(const Owner &);
  // "" when the value fits the member and was stored; otherwise what it must be.
  std::string (*read)(const Json &, Owner &);
};

template <typename T>
bool parseNumber(std::string_view text, T &out, int base) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), out, base);
  return !text.empty() && error == std::errc() && end == text.data() + text.size();
}

template <typename T>
std::enable_if_t<std::is_integral_v<T>, Json> writeValue(T value) {
  return value;
}

// Bytes as the tools show them: "00 01 ... 0f".
template <std::size_t N>
Json writeValue(const std::array<std::uint8_t, N> &bytes) {
  std::string text;
  for (std::uint8_t byte : bytes) text += (text.empty() ? "" : " ") + hexByte(byte);
  return text;
}

// An integer from `min` to `max` that the member's type holds.
template <typename T>
std::enable_if_t<std::is_integral_v<T>, std::string> readValue(const Json &json, T &out,
                                                               std::int64_t min, std::int64_t max) {
  min = std::max<std::int64_t>(min, std::numeric_limits<T>::min());
  max = static_cast<std::int64_t>(std::min<std::uint64_t>(max, std::numeric_limits<T>::max()));
  if (!json.is_number_integer() ||
      (json.is_number_unsigned() && json.get<std::uint64_t>() > static_cast<std::uint64_t>(max)) ||
      json.get<std::int64_t>() < min || json.get<std::int64_t>() > max) {
    return "is not an integer from " + std::to_string(min) + " to " + std::to_string(max);
  }
  out = static_cast<T>(json.get<std::int64_t>());
  return {};
}

template <std::size_t N>
std::string readValue(const Json &json, std::array<std::uint8_t, N> &out, std::int64_t,
                      std::int64_t) {
  std::string problem = "is not " + std::to_string(N) + " hex bytes";
  std::array<std::uint8_t, N> bytes{};
  std::istringstream words(json.is_string() ? json.get<std::string>() : "");
  std::size_t count = 0;
  for (std::string word; words >> word; ++count) {
    if (count == N || !parseNumber(std::string_view(word), bytes[count], 16)) return problem;
  }
  if (count != N) return problem;
  out = bytes;
  return {};
}

template <auto Member, std::int64_t Min = std::numeric_limits<std::int64_t>::min(),
          std::int64_t Max = std::numeric_limits<std::int64_t>::max()>
constexpr auto field(const char *key) {
  using Owner = decltype(ownerOf(Member));
  return Field<Owner>{
      key, [](const Owner &owner) { return writeValue(owner.*Member); },
      [](const Json &json, Owner &owner) { return readValue(json, owner.*Member, Min, Max); }};
}

constexpr std::array kRadioFields{
    field<&Radio::mode, 0, kModeSlots - 1>("mode"),
    field<&Radio::config>("config"),
    field<&Radio::tx_offset>("tx_offset"),
    field<&Radio::rx_split>("rx_split"),
    field<&Radio::tx_split>("tx_split"),
};

constexpr std::array kVfoFields{
    field<&Vfo::frequency, 0, kMaxFrequency>("frequency"),
    field<&Vfo::duplex>("duplex"),
    field<&Vfo::tx_tone, 0, kMaxTone>("tx_tone"),
    field<&Vfo::rx_tone, 0, kMaxTone>("rx_tone"),
    field<&Vfo::codeplug>("codeplug"),
};

template <typename Owner, std::size_t N>
Json writeFields(const std::array<Field<Owner>, N> &fields, const Owner &owner) {
  Json object = Json::object();
  for (const Field<Owner> &entry : fields) object[entry.key] = entry.write(owner);
  return object;
}

// Reads the member `key`, which messages call `name`, into `owner`; "" when done.
template <typename Owner, std::size_t N>
std::string readField(const std::array<Field<Owner>, N> &fields, Owner &owner,
                      const std::string &key, const Json &value, const std::string &name) {
  for (const Field<Owner> &entry : fields) {
    if (key != entry.key) continue;
    std::string problem = entry.read(value, owner);
    return problem.empty() ? problem : name + " " + problem;
  }
  return "unknown key \"" + name + "\"";
}

std::string readVfo(const Json &json, const std::string &name, Vfo &vfo) {
  if (!json.is_object()) return name + " is not an object";
  for (const auto &[key, value] : json.items()) {
    std::string problem = readField(kVfoFields, vfo, key, value, name + "." + key);
    if (!problem.empty()) return problem;
  }
  return {};
}

// The mode slots, each under its number.
std::string readSlots(const Json &json, Radio &radio) {
  if (!json.is_object()) return std::string(kSlotsKey) + " is not an object";
  for (const auto &[key, value] : json.items()) {
    const std::string name = std::string(kSlotsKey) + "." + key;
    std::size_t slot = 0;
    if (!parseNumber(std::string_view(key), slot, 10) || slot >= kModeSlots) {
      return "unknown key \"" + name + "\"";
    }
    std::string problem = readVfo(value, name, radio.slots[slot]);
    if (!problem.empty()) return problem;
  }
  return {};
}

std::string readRadio(const Json &json, Radio &radio) {
  if (!json.is_object()) return "not a JSON object";
  for (const auto &[key, value] : json.items()) {
    std::string problem = key == kVfoKey     ? readVfo(value, key, radio.vfo)
                          : key == kSlotsKey ? readSlots(value, radio)
                                             : readField(kRadioFields, radio, key, value, key);
    if (!problem.empty()) return problem;
  }
  return {};
}

// Parses `text` into `document`; a syntax error becomes a message naming
// where it is ("bad JSON at line 2, column 1: ...").
std::string parseJson(const std::string &text, Json &document) {
  try {
    document = Json::parse(text);
    return {};
  } catch (const Json::parse_error &error) {
    const std::string message = error.what();
    constexpr std::string_view kPrefix = "parse error ";
    const std::size_t at = message.find(kPrefix);
    return "bad JSON " + (at == std::string::npos ? message : message.substr(at + kPrefix.size()));
  }
}

// Reads the "key = value" lines older radiosims wrote (and only those: one
// "#" comment line, then a line per field) into the JSON document they
// stand for: "vfo.duplex = 17" is {"vfo": {"duplex": 17}}, "slot.N." keys go
// under "slots", a decimal value is a number and any other ("fd fe") a
// string. Loading the file rewrites it as JSON, so each file passes here once.
std::string parseOldLines(const std::string &text, Json &document) {
  document = Json::object();
  std::istringstream lines(text);
  std::string line;
  for (unsigned number = 1; std::getline(lines, line); ++number) {
    if (line.empty() || line.front() == '#') continue;
    const std::size_t separator = line.find(kOldSeparator);
    std::istringstream keys(line.substr(0, separator));
    Json *node = &document;
    for (std::string key; separator != std::string::npos && std::getline(keys, key, '.');) {
      if (!node->is_null() && !node->is_object()) break;
      node = &(*node)[node == &document && key == kOldSlotKey ? kSlotsKey : key];
    }
    if (separator == std::string::npos || !node->is_null()) {
      return "line " + std::to_string(number) + ": neither JSON nor \"key = value\"";
    }
    const std::string value = line.substr(separator + kOldSeparator.size());
    std::int64_t integer = 0;
    *node = parseNumber(std::string_view(value), integer, 10) ? Json(integer) : Json(value);
  }
  return {};
}

bool writeAll(int fd, const std::string &text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno != EINTR) return false;
    done += n < 0 ? 0 : static_cast<std::size_t>(n);
  }
  return true;
}

// Closes `fd` keeping errno as the failure before it left it.
void closeKeepingErrno(int fd) {
  const int saved = errno;
  ::close(fd);
  errno = saved;
}

// Writes a new file at `path` holding `text`, on disk and locked; returns
// its descriptor, or -1 with errno set.
int writeLocked(const std::string &path, const std::string &text) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, kFileMode);
  if (fd >= 0 && (::flock(fd, LOCK_EX | LOCK_NB) != 0 || !writeAll(fd, text) || ::fsync(fd) != 0)) {
    closeKeepingErrno(fd);
    return -1;
  }
  return fd;
}

bool sameFile(int fd, const std::string &path) {
  struct stat held {};
  struct stat named {};
  return ::fstat(fd, &held) == 0 && ::stat(path.c_str(), &named) == 0 &&
         held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}

}  // namespace

std::string formatState(const Radio &radio) {
  Json document = writeFields(kRadioFields, radio);
  document[kVfoKey] = writeFields(kVfoFields, radio.vfo);
  Json &slots = document[kSlotsKey] = Json::object();
  for (std::size_t slot = 0; slot < kModeSlots; ++slot) {
    if (radio.slots[slot] != Vfo{}) {
      slots[std::to_string(slot)] = writeFields(kVfoFields, radio.slots[slot]);
    }
  }
  return document.dump(kIndent) + "\n";
}

bool parseState(const std::string &text, const std::string &name, Radio &radio,
                std::string &error) {
  const std::size_t first = text.find_first_not_of(" \t\r\n");
  Json document;
  std::string problem = first != std::string::npos && text[first] == '{'
                            ? parseJson(text, document)
                            : parseOldLines(text, document);
  Radio parsed = radio;
  if (problem.empty()) problem = readRadio(document, parsed);
  if (!problem.empty()) {
    error = name + ": " + problem;
    return false;
  }
  radio = std::move(parsed);
  return true;
}

bool loadState(const std::string &path, Radio &radio, std::string &error) {
  std::ifstream in(path);
  const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  if (!in) {
    error = path + ": cannot be read";
    return false;
  }
  return parseState(text, path, radio, error);
}

StateFile::~StateFile() {
  if (lock_ >= 0) {
    ::close(lock_);
  }
}

bool StateFile::open(const std::string &path, Radio &radio, std::string &error) {
  path_ = path;
  // The holder may rename a new file over the path between the open and the
  // lock; then the lock is on a file the path no longer names: try again.
  do {
    if (lock_ >= 0) {
      ::close(lock_);
    }
    lock_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, kFileMode);
    if (lock_ < 0) {
      error = path + ": cannot be opened: " + std::strerror(errno);
      return false;
    }
    if (::flock(lock_, LOCK_EX | LOCK_NB) != 0) {
      error = path + (errno == EWOULDBLOCK
                          ? ": state file in use"
                          : ": cannot be locked: " + std::string(std::strerror(errno)));
      return false;
    }
  } while (!sameFile(lock_, path));
  return loadState(path, radio, error) && save(radio, error);
}

bool StateFile::save(const Radio &radio, std::string &error) {
  const std::string temporary = path_ + ".tmp";
  const int fd = writeLocked(temporary, formatState(radio));
  if (fd < 0 || std::rename(temporary.c_str(), path_.c_str()) != 0) {
    error = path_ + ": cannot be saved: " + std::strerror(errno);
    if (fd >= 0) {
      closeKeepingErrno(fd);
    }
    return false;
  }
  ::close(lock_);
  lock_ = fd;
  return true;
}

}  // namespace radiosim
