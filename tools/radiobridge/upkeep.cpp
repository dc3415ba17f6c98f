// SPDX-License-Identifier: MIT
// The radio's upkeep rule: one transition per outcome of an exchange.
#include "upkeep.h"

#include <algorithm>

namespace radiobridge {
namespace {

constexpr int kMissesUnavailable = 3;  // unanswered exchanges in a row
constexpr int kRefusalsUnsupported = 2;
constexpr const char *kVersionReader = "version";

}  // namespace

Upkeep::Upkeep(std::vector<std::string> readers) : readers_(std::move(readers)) {
  lineOpened();
}

void Upkeep::lineOpened() {
  stale_ = {readers_.begin(), readers_.end()};
  unsupported_.clear();
  refusals_.clear();
  answered_ = false;
  missed_ = 0;
  available_ = true;
}

void Upkeep::versionChanged() {
  stale_ = {readers_.begin(), readers_.end()};
  stale_.erase(kVersionReader);
  unsupported_.clear();
  refusals_.clear();
}

bool Upkeep::isReader(const std::string &command) const {
  return std::find(readers_.begin(), readers_.end(), command) != readers_.end();
}

std::string Upkeep::exchanged(const std::string &command, Outcome outcome,
                              const std::string &read_back) {
  if (outcome == Outcome::kLineLost) return {};
  const bool was_available = available_;
  const bool reader = isReader(command);
  if (outcome == Outcome::kSilent) {
    ++missed_;
    available_ = available_ && answered_ && missed_ < kMissesUnavailable;
  } else {
    answered_ = true;
    missed_ = 0;
    available_ = true;
  }
  if (outcome == Outcome::kAnswered && reader) {
    stale_.erase(command);
    unsupported_.erase(command);
    refusals_.erase(command);
  } else if (outcome == Outcome::kRefused && reader && unsupported_.count(command) == 0 &&
             ++refusals_[command] >= kRefusalsUnsupported) {
    unsupported_.insert(command);
    stale_.erase(command);
  } else if (outcome != Outcome::kAnswered && unsupported_.count(command) == 0) {
    // What the radio holds may differ from what was last read.
    const std::string &changed = reader ? command : read_back;
    if (!changed.empty()) stale_.insert(changed);
  }
  if (available_ == was_available) return {};
  return available_ ? "available" : "unavailable";
}

bool Upkeep::refuses(bool heartbeat) const {
  return heartbeat && missed_ >= kMissesUnavailable;
}

std::vector<std::string> Upkeep::due() const {
  std::vector<std::string> due;
  if (!available_ || missed_ > 0) return due;
  for (const std::string &reader : readers_) {
    if (stale_.count(reader) != 0 && unsupported_.count(reader) == 0) due.push_back(reader);
  }
  return due;
}

std::vector<std::string> Upkeep::unsupported() const {
  std::vector<std::string> found;
  for (const std::string &reader : readers_) {
    if (unsupported_.count(reader) != 0) found.push_back(reader);
  }
  return found;
}

}  // namespace radiobridge
