// SPDX-License-Identifier: MIT
// What the bridge knows of one radio's health, and which of its readings
// are due: a pure state machine fed with the outcome of every exchange
// with the radio (a client's request, a reading, a heartbeat).
// - A radio that has not answered once since the line opened, or leaves
//   three exchanges in a row unanswered, is unavailable; any answer makes
//   it available again. Only after three silences are its requests refused
//   without being sent (while a heartbeat watches it): a radio that never
//   answered may be one that answers slowly, and its client is told the
//   radio's time-out.
// - Readings are due when the line opens, when the radio's version text
//   changes, and for what a failed exchange may have changed (a setter's
//   read-back, a failed reader). While the radio is silent nothing is due:
//   it is read again once it answers, so a request to a silent radio costs
//   one time-out, not one more for the readings.
// - A reader the radio refuses twice in a row is unsupported by that radio
//   (a model that implements part of the command set) until the line
//   reopens or the version changes: it is no longer due. A client's own
//   request for it still goes to the radio; its success makes it supported.
#ifndef RADIOBRIDGE_UPKEEP_H
#define RADIOBRIDGE_UPKEEP_H

#include <map>
#include <set>
#include <string>
#include <vector>

namespace radiobridge {

class Upkeep {
 public:
  // How an exchange with the radio ended.
  enum class Outcome {
    kAnswered,  // success
    kRefused,   // the radio answered, but refused or sent another reply
    kSilent,    // no answer within the time-out
    kLineLost,  // the line failed: nothing learned of the radio
  };

  // `readers`: the readers of the readable state, in the order they run.
  explicit Upkeep(std::vector<std::string> readers);

  // The line (re)opened: every reading is due, nothing is unsupported and
  // the radio has not answered yet.
  void lineOpened();
  // The radio reports another version text: another model may answer now.
  void versionChanged();
  // An exchange of `command` ended with `outcome`; `read_back` is the
  // reader that shows what the command writes (empty: none). Returns
  // "available" or "unavailable" when that changed, else "".
  std::string exchanged(const std::string &command, Outcome outcome,
                        const std::string &read_back = {});

  // The readers to run before the state is next published, in order.
  std::vector<std::string> due() const;
  bool available() const { return available_; }
  // Whether a request is answered "unavailable" without being sent: after
  // three silences in a row, and only while a heartbeat watches the radio,
  // which will bring it back.
  bool refuses(bool heartbeat) const;
  // The readers the radio does not support, in reading order.
  std::vector<std::string> unsupported() const;

 private:
  bool isReader(const std::string &command) const;

  std::vector<std::string> readers_;
  std::set<std::string> stale_;
  std::set<std::string> unsupported_;
  std::map<std::string, int> refusals_;  // by reader, in a row
  bool answered_ = false;                // since the line opened
  int missed_ = 0;                       // exchanges unanswered in a row
  bool available_ = true;
};

}  // namespace radiobridge

#endif  // RADIOBRIDGE_UPKEEP_H
