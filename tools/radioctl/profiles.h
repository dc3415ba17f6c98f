// SPDX-License-Identifier: MIT
// radioctl's profile commands: save [FILE], diff FILE, apply FILE
// [--dry-run] and import-csv FILE. Reading the command and its file (every
// problem a usage error, before anything is sent), and running it on one
// radio through a Runner, on the open line or through a bridge, into a
// report of its own: the readable block, the failure for standard error,
// the JSON object and the exit status. Which keys to read, what differs and
// what to set are profile_plan.h's decisions; this file only carries them
// out.
#ifndef RADIOCTL_PROFILES_H
#define RADIOCTL_PROFILES_H

#include <functional>
#include <string>
#include <vector>

#include "broker_options.h"
#include "commands.h"
#include "profile.h"
#include "run.h"

namespace radioctl {

struct ProfileRequest {
  enum class What { kSave, kDiff, kApply, kImport };
  What what = What::kSave;
  std::string file;  // save: where to write, "" for standard output
  bool dry_run = false;
  common::Profile profile;  // diff and apply
};

// Whether `word` names a profile command.
bool isProfileCommand(const std::string &word);

// The profile commands with their arguments, for --help.
std::string profileSummary();

// Reads a profile command, words[0] being its name, and the profile it
// names into `request`. kHelp and kUsage come with `failure`: the help
// text, or the usage failure object.
common::Plan::Outcome readProfileRequest(const std::vector<std::string> &words,
                                         ProfileRequest &request, common::Json &failure);

// Writes the profile that import-csv makes of FILE to standard output;
// returns the exit status.
int importCsv(const std::string &file, bool json);

// How one radio is reached.
struct RadioLink {
  int radio = 0;
  std::string line;  // the bridge's line; "" on the open line
  Runner run;
  // The bridge's retained state of the radio (null when there is none);
  // empty on the open line.
  std::function<common::Json()> bridge_state;
};

// What a profile command came to on one radio.
struct RadioReport {
  std::string heading;  // "radio 0x20", "radio 0x20 on line bus"
  std::string text;     // the readable block
  std::string failure;  // for standard error, "" when none
  common::Json object;  // the --json line
  int status = common::kExitOk;
};

RadioReport runProfile(const ProfileRequest &request, const RadioLink &link);

// Runs `request` on each of `radios` on the line of each of `bridges`: the
// lines at once, one thread each, the radios of a line in turn. The
// reports come line by line, radio by radio, in the order given.
std::vector<RadioReport> runThroughBridges(const ProfileRequest &request,
                                           const std::vector<common::BrokerOptions> &bridges,
                                           const std::vector<int> &radios);

// The report of a radio that could not be reached: `failure` is the
// failure object of opening the line or the bridge.
RadioReport unreachable(const RadioLink &link, const common::Json &failure);

// Prints the reports in order, each under a heading naming its radio when
// `many`; returns the worst status (1 when the output could not be
// written).
int printReports(const std::vector<RadioReport> &reports, bool json, bool many);

}  // namespace radioctl

#endif  // RADIOCTL_PROFILES_H
