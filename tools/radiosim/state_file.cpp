// SPDX-License-Identifier: MIT
// Reading and writing the radio state file. Two tables name the fields, one
// for the radio as a whole and one for a VFO (used for the VFO and for every
// mode slot); each entry knows how to print and parse its member.
#include "state_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>
#include <string_view>
#include <type_traits>

namespace radiosim {
namespace {

constexpr std::string_view kVfoPrefix = "vfo.";
constexpr std::string_view kSlotPrefix = "slot.";
constexpr const char *kWhitespace = " \t\r";
constexpr mode_t kFileMode = 0644;

template <typename Member>
struct MemberOf;
template <typename O, typename T>
struct MemberOf<T O::*> {
  using Owner = O;
};

template <typename Owner>
struct Field {
  const char *key;
  std::string (*format)(const Owner &);
  bool (*parse)(Owner &, std::string_view);
};

template <typename T>
std::enable_if_t<std::is_integral_v<T>, std::string> formatValue(T value) {
  return std::to_string(value);
}

template <std::size_t N>
std::string formatValue(const std::array<std::uint8_t, N> &bytes) {
  std::string text;
  for (std::uint8_t byte : bytes) {
    text += (text.empty() ? "" : " ") + hexByte(byte);
  }
  return text;
}

template <typename T>
bool parseNumber(std::string_view text, T &out, int base) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), out, base);
  return !text.empty() && error == std::errc() && end == text.data() + text.size();
}

template <typename T>
std::enable_if_t<std::is_integral_v<T>, bool> parseValue(std::string_view text, T &out,
                                                         std::uint64_t max) {
  T value{};
  if (!parseNumber(text, value, 10)) {
    return false;
  }
  if constexpr (std::is_unsigned_v<T>) {
    if (value > max) {
      return false;
    }
  }
  out = value;
  return true;
}

template <std::size_t N>
bool parseValue(std::string_view text, std::array<std::uint8_t, N> &out, std::uint64_t) {
  std::array<std::uint8_t, N> bytes{};
  std::istringstream words{std::string(text)};
  std::string word;
  std::size_t count = 0;
  while (words >> word) {
    if (count == N || !parseNumber(std::string_view(word), bytes[count], 16)) {
      return false;
    }
    ++count;
  }
  if (count != N) {
    return false;
  }
  out = bytes;
  return true;
}

template <auto Member, std::uint64_t Max = std::numeric_limits<std::uint64_t>::max()>
constexpr Field<typename MemberOf<decltype(Member)>::Owner> field(const char *key) {
  using Owner = typename MemberOf<decltype(Member)>::Owner;
  return {key, [](const Owner &owner) { return formatValue(owner.*Member); },
          [](Owner &owner, std::string_view text) { return parseValue(text, owner.*Member, Max); }};
}

constexpr std::array kRadioFields{
    field<&Radio::mode, kModeSlots - 1>("mode"), field<&Radio::config>("config"),
    field<&Radio::tx_offset>("tx_offset"),       field<&Radio::rx_split>("rx_split"),
    field<&Radio::tx_split>("tx_split"),
};

constexpr std::array kVfoFields{
    field<&Vfo::frequency, kMaxFrequency>("frequency"),
    field<&Vfo::duplex>("duplex"),
    field<&Vfo::tx_tone, kMaxTone>("tx_tone"),
    field<&Vfo::rx_tone, kMaxTone>("rx_tone"),
    field<&Vfo::codeplug>("codeplug"),
};

enum class Assign { kDone, kUnknownKey, kBadValue };

template <typename Owner, std::size_t N>
void formatFields(std::string &text, const std::string &prefix,
                  const std::array<Field<Owner>, N> &fields, const Owner &owner) {
  for (const Field<Owner> &entry : fields) {
    text += prefix + entry.key + " = " + entry.format(owner) + "\n";
  }
}

template <typename Owner, std::size_t N>
Assign assignField(const std::array<Field<Owner>, N> &fields, Owner &owner, std::string_view key,
                   std::string_view value) {
  for (const Field<Owner> &entry : fields) {
    if (key == entry.key) {
      return entry.parse(owner, value) ? Assign::kDone : Assign::kBadValue;
    }
  }
  return Assign::kUnknownKey;
}

bool startsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

// A slot key "slot.N.rest": the slot's VFO and the rest of the key.
Assign assignSlot(Radio &radio, std::string_view key, std::string_view value) {
  key.remove_prefix(kSlotPrefix.size());
  const std::size_t dot = key.find('.');
  std::size_t slot = 0;
  if (dot == std::string_view::npos || !parseNumber(key.substr(0, dot), slot, 10) ||
      slot >= kModeSlots) {
    return Assign::kUnknownKey;
  }
  return assignField(kVfoFields, radio.slots[slot], key.substr(dot + 1), value);
}

Assign assign(Radio &radio, std::string_view key, std::string_view value) {
  if (startsWith(key, kVfoPrefix)) {
    return assignField(kVfoFields, radio.vfo, key.substr(kVfoPrefix.size()), value);
  }
  if (startsWith(key, kSlotPrefix)) {
    return assignSlot(radio, key, value);
  }
  return assignField(kRadioFields, radio, key, value);
}

std::string_view trim(std::string_view text) {
  const std::size_t first = text.find_first_not_of(kWhitespace);
  if (first == std::string_view::npos) {
    return {};
  }
  return text.substr(first, text.find_last_not_of(kWhitespace) - first + 1);
}

// Checks one line and applies it; an empty string when it is fine.
std::string applyLine(Radio &radio, std::string_view line) {
  line = trim(line);
  if (line.empty() || line.front() == '#') {
    return {};
  }
  const std::size_t equals = line.find('=');
  if (equals == std::string_view::npos) {
    return "expected \"key = value\"";
  }
  const std::string_view key = trim(line.substr(0, equals));
  const std::string_view value = trim(line.substr(equals + 1));
  switch (assign(radio, key, value)) {
    case Assign::kUnknownKey:
      return "unknown key \"" + std::string(key) + "\"";
    case Assign::kBadValue:
      return "bad value \"" + std::string(value) + "\" for " + std::string(key);
    case Assign::kDone:
      break;
  }
  return {};
}

bool writeAll(int fd, const std::string &text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno != EINTR) {
      return false;
    }
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
  std::string text = "# radio state, one \"key = value\" per line\n";
  formatFields(text, "", kRadioFields, radio);
  formatFields(text, std::string(kVfoPrefix), kVfoFields, radio.vfo);
  for (std::size_t slot = 0; slot < kModeSlots; ++slot) {
    if (radio.slots[slot] != Vfo{}) {
      formatFields(text, std::string(kSlotPrefix) + std::to_string(slot) + ".", kVfoFields,
                   radio.slots[slot]);
    }
  }
  return text;
}

bool parseState(std::istream &in, const std::string &name, Radio &radio, std::string &error) {
  Radio parsed = radio;
  std::string line;
  for (unsigned number = 1; std::getline(in, line); ++number) {
    const std::string problem = applyLine(parsed, line);
    if (!problem.empty()) {
      error = name + ":" + std::to_string(number) + ": " + problem;
      return false;
    }
  }
  radio = std::move(parsed);
  return true;
}

StateLoad loadState(const std::string &path, Radio &radio, std::string &error) {
  std::error_code missing;
  if (!std::filesystem::exists(path, missing)) {
    return StateLoad::kMissing;
  }
  std::ifstream in(path);
  if (!in) {
    error = path + ": cannot be read";
    return StateLoad::kFailed;
  }
  return parseState(in, path, radio, error) ? StateLoad::kLoaded : StateLoad::kFailed;
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
  return loadState(path, radio, error) == StateLoad::kLoaded && save(radio, error);
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
