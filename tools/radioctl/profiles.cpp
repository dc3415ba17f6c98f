// SPDX-License-Identifier: MIT
// The profile commands' I/O: reading the profile or CSV file, running the
// readers, the steps an apply planned and their read-backs, each as a
// command text through the runner (the same plan and exchange as any
// other command, on the line or through the bridge), writing a saved
// profile, and printing each radio's report. A reader the radio refuses
// counts as a value it cannot report; any other failure ends that radio's
// run.
#include "profiles.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <thread>

#include "channel_csv.h"
#include "output.h"
#include "profile_plan.h"
#include "remote.h"
#include "text.h"
#include "values.h"

namespace radioctl {
namespace {

using common::Json;
using What = ProfileRequest::What;

struct ProfileCommand {
  const char *name;
  const char *file_help;  // nullptr: FILE is optional
  const char *help;
  What what;
  bool dry_run;
};

constexpr ProfileCommand kProfileCommands[] = {
    {"save", nullptr, "write what the radio reports as a profile to FILE, or to standard output",
     What::kSave, false},
    {"diff", "the profile", "show where the radio differs from the profile; exit 1 when it does",
     What::kDiff, false},
    {"apply", "the profile", "set what differs from the profile, reading back what can be read",
     What::kApply, true},
    {"import-csv", "the channel table",
     "write the profile of a channel table in CSV to standard output", What::kImport, false},
};

const ProfileCommand *findProfileCommand(const std::string &word) {
  const auto found = std::find_if(std::begin(kProfileCommands), std::end(kProfileCommands),
                                  [&word](const ProfileCommand &row) { return word == row.name; });
  return found == std::end(kProfileCommands) ? nullptr : found;
}

std::string usageOf(const ProfileCommand &row) {
  return std::string(row.name) + (row.file_help == nullptr ? " [FILE]" : " FILE") +
         (row.dry_run ? " [--dry-run]" : "");
}

std::string quote(const std::string &text) {
  return common::quote(text, std::string::npos);
}

// The whole of `path`, or a problem that names it.
bool readFile(const std::string &path, std::string &text, std::string &problem) {
  std::ifstream in(path, std::ios::binary);
  if (in) text.assign(std::istreambuf_iterator<char>(in), {});
  if (!in.good() && !in.eof()) {
    problem = quote(path) + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

bool readProfileFile(const std::string &path, common::Profile &profile, std::string &problem) {
  std::string text;
  if (!readFile(path, text, problem)) return false;
  const Json document = Json::parse(text, nullptr, false);
  if (document.is_discarded()) {
    problem = quote(path) + ": not JSON";
    return false;
  }
  std::string what;
  const auto read = common::readProfile(document, what);
  if (!read) problem = quote(path) + ": " + what;
  if (read) profile = *read;
  return read.has_value();
}

// Writes `text` to `path` through a temporary file renamed over it, so a
// failed save leaves what was there.
bool writeFile(const std::string &path, const std::string &text, std::string &problem) {
  const std::string temporary = path + ".part";
  std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
  out << text;
  out.close();
  if (!out || std::rename(temporary.c_str(), path.c_str()) != 0) {
    const int error = errno;
    problem = "cannot write " + quote(path) + ": " + std::strerror(error);
    std::remove(temporary.c_str());
    errno = error;
    return false;
  }
  return true;
}

// Runs the command `text` on the radio; `result` is its result object.
bool runText(const RadioLink &link, const std::string &text, Json &result) {
  const common::Plan plan = common::planLine(text);
  if (plan.outcome != common::Plan::Outcome::kRun) {
    result = common::usageFailure(plan);
    return false;
  }
  return link.run(plan.invocations.front(), result);
}

std::string messageOf(const Json &failure) {
  return failure.at("error").at("message").get<std::string>();
}

bool refused(const Json &failure) {
  return failure.at("error").at("code") == common::kCodeRefused;
}

// Reads `keys` into `readings`; a key the radio refuses is left out. On any
// other failure `failure` is its result object.
bool readKeys(const std::vector<const common::ProfileKey *> &keys, const RadioLink &link,
              Json &readings, Json &failure) {
  for (const common::ProfileKey *key : keys) {
    Json result;
    if (runText(link, key->reader, result)) {
      readings[key->name] = result.at(key->name);
    } else if (!refused(result)) {
      failure = result;
      return false;
    }
  }
  return true;
}

Json radioObject(const RadioLink &link) {
  Json object{{"radio", common::addressText(link.radio)}};
  if (!link.line.empty()) object["line"] = link.line;
  return object;
}

RadioReport reportOf(const RadioLink &link) {
  return {"radio " + common::addressText(link.radio) +
              (link.line.empty() ? "" : " on line " + link.line),
          {},
          {},
          radioObject(link),
          common::kExitOk};
}

RadioReport failed(RadioReport report, const Json &failure) {
  const Json &command = failure.at("command");
  report.failure =
      (command.is_string() ? command.get<std::string>() + ": " : "") + messageOf(failure);
  report.object.update(failure);
  report.status = common::kExitFailed;
  return report;
}

RadioReport save(const ProfileRequest &request, const RadioLink &link) {
  RadioReport report = reportOf(link);
  std::vector<const common::ProfileKey *> readable;
  for (const common::ProfileKey &key : common::profileKeys()) {
    if (key.reader != nullptr) readable.push_back(&key);
  }
  Json version;
  Json readings = Json::object();
  Json failure;
  if (!runText(link, "version", version) && !refused(version)) return failed(report, version);
  if (!readKeys(readable, link, readings, failure)) return failed(report, failure);
  const Json state = link.bridge_state ? link.bridge_state() : Json();
  const Json profile = common::savedProfile(
      version.value("version", ""), common::addressText(link.radio), link.line, readings, state);
  std::string problem;
  if (request.file.empty()) {
    report.text = common::profileText(profile);
    report.object = profile;
  } else if (writeFile(request.file, common::profileText(profile), problem)) {
    report.object["saved"] = request.file;
  } else {
    return failed(report, common::failureObject("save", common::kCodeFailed, errno, problem));
  }
  return report;
}

RadioReport diff(const ProfileRequest &request, const RadioLink &link) {
  RadioReport report = reportOf(link);
  Json readings = Json::object();
  Json failure;
  if (!readKeys(common::keysToRead(request.profile), link, readings, failure)) {
    return failed(report, failure);
  }
  const std::vector<common::Difference> found = common::differences(request.profile, readings);
  Json keys = Json::array();
  for (const common::Difference &difference : found) {
    report.text += common::differenceLine(difference) + "\n";
    keys.push_back(common::differenceObject(difference));
  }
  report.object["differs"] = !found.empty();
  report.object["keys"] = keys;
  report.status = found.empty() ? common::kExitOk : common::kExitFailed;
  return report;
}

// The slot selected before an apply, when the bridge's state knows it.
std::optional<long> previousSlot(const ProfileRequest &request, const RadioLink &link) {
  if (request.profile.channels.empty() || !link.bridge_state) return std::nullopt;
  std::string problem;
  const common::ProfileKey &mode = *common::findProfileKey("mode");
  const auto slot =
      common::readSetting(mode, common::bridgeValue(mode, link.bridge_state()), problem);
  return slot ? std::optional<long>(slot->values.front()) : std::nullopt;
}

common::KeyResult runStep(const common::Step &step, const RadioLink &link, bool dry_run) {
  using Action = common::Step::Action;
  if (step.action == Action::kUnchanged) return {step.key, "unchanged", {}, 0};
  if (step.action == Action::kLeave) return {step.key, "left", {}, step.slot};
  if (dry_run) return {step.key, "would set", {}, 0};
  Json result;
  for (const std::string &command : step.commands) {
    if (!runText(link, command, result)) {
      // A channel's steps are many: say which one failed.
      const std::string where =
          step.commands.size() > 1 ? command.substr(0, command.find(' ')) + ": " : "";
      return {step.key, "failed", where + messageOf(result), 0};
    }
  }
  if (step.read_back == nullptr) return {step.key, "set", {}, 0};
  if (!runText(link, step.read_back->reader, result)) {
    return {step.key, "failed", "set, but reading it back failed: " + messageOf(result), 0};
  }
  const std::string problem =
      common::readBackProblem(*step.read_back, result.at(step.read_back->name), step.wanted);
  if (!problem.empty()) return {step.key, "failed", problem, 0};
  return {step.key, "set", {}, 0};
}

RadioReport apply(const ProfileRequest &request, const RadioLink &link) {
  RadioReport report = reportOf(link);
  Json readings = Json::object();
  Json failure;
  std::vector<common::KeyResult> results;
  if (!readKeys(common::keysToRead(request.profile), link, readings, failure)) {
    const std::string reader = failure.at("command");
    const auto key =
        std::find_if(common::profileKeys().begin(), common::profileKeys().end(),
                     [&reader](const common::ProfileKey &row) { return row.reader == reader; });
    results.push_back({key->name, "failed", messageOf(failure)});
  } else {
    for (const common::Step &step :
         common::planApply(request.profile, readings, previousSlot(request, link))) {
      results.push_back(runStep(step, link, request.dry_run));
      if (results.back().result == "failed") break;
    }
  }
  report.text = common::applyText(results);
  report.object.update(common::applyObject(results));
  if (!report.object.at("ok").get<bool>()) {
    report.failure = results.back().key + ": " + results.back().error;
    report.status = common::kExitFailed;
  }
  return report;
}

}  // namespace

bool isProfileCommand(const std::string &word) {
  return findProfileCommand(word) != nullptr;
}

std::string profileSummary() {
  std::string summary = "Profiles (one command a run):\n";
  for (const ProfileCommand &row : kProfileCommands) {
    const std::string usage = usageOf(row);
    summary += "  " + usage + std::string(usage.size() < 24 ? 24 - usage.size() : 1, ' ') +
               row.help + "\n";
  }
  return summary;
}

common::Plan::Outcome readProfileRequest(const std::vector<std::string> &words,
                                         ProfileRequest &request, Json &failure) {
  const ProfileCommand &row = *findProfileCommand(words.front());
  CLI::App app{row.help, std::string("radioctl ") + row.name};
  app.add_option("FILE", request.file, row.file_help == nullptr ? "where to write" : row.file_help)
      ->required(row.file_help != nullptr)
      ->type_name("");
  if (row.dry_run) app.add_flag("--dry-run", request.dry_run, "print the plan and send nothing");
  request.what = row.what;
  std::vector<std::string> arguments(words.rbegin(), words.rend() - 1);
  std::string problem;
  try {
    app.parse(std::move(arguments));
  } catch (const CLI::CallForHelp &) {
    failure = app.help();
    return common::Plan::Outcome::kHelp;
  } catch (const CLI::ParseError &error) {
    problem = error.what();
  }
  if (problem.empty() && (row.what == What::kDiff || row.what == What::kApply)) {
    readProfileFile(request.file, request.profile, problem);
  }
  if (problem.empty()) return common::Plan::Outcome::kRun;
  failure = common::failureObject(row.name, common::kCodeUsage, EINVAL, problem);
  return common::Plan::Outcome::kUsage;
}

int importCsv(const std::string &file, bool json) {
  std::string text;
  std::string problem;
  int line = 0;
  std::optional<Json> profile;
  if (readFile(file, text, problem)) {
    profile = common::channelsFromCsv(text, problem, line);
    if (!profile) problem = quote(file) + ": " + problem;
  }
  if (!profile) {
    const Json failure =
        common::failureObject("import-csv", common::kCodeUsage, EINVAL, problem, line);
    return printResult(failure, json) ? common::kExitUsage : common::kExitFailed;
  }
  return printOutput(json ? profile->dump() + "\n" : common::profileText(*profile))
             ? common::kExitOk
             : common::kExitFailed;
}

RadioReport runProfile(const ProfileRequest &request, const RadioLink &link) {
  switch (request.what) {
    case What::kDiff:
      return diff(request, link);
    case What::kApply:
      return apply(request, link);
    case What::kSave:
    case What::kImport:
      break;
  }
  return save(request, link);
}

std::vector<RadioReport> runThroughBridges(const ProfileRequest &request,
                                           const std::vector<common::BrokerOptions> &bridges,
                                           const std::vector<int> &radios) {
  // Every client is made and connected here, before the threads start, and
  // destroyed after they end: libmosquitto's set-up is not for threads.
  std::vector<std::unique_ptr<Remote>> remotes;
  std::vector<RadioLink> links;
  std::vector<RadioReport> reports;
  std::vector<bool> reached;
  for (const common::BrokerOptions &bridge : bridges) {
    for (int radio : radios) {
      Remote *remote = remotes.emplace_back(std::make_unique<Remote>(bridge, radio)).get();
      const RadioLink &link = links.emplace_back(
          RadioLink{radio, bridge.line,
                    [remote](const common::Invocation &invocation, Json &result) {
                      return remote->run(invocation, result);
                    },
                    [remote] { return remote->retainedState(); }});
      Json failure;
      reached.push_back(remote->open(failure));
      reports.push_back(reached.back() ? reportOf(link) : unreachable(link, failure));
    }
  }
  std::vector<std::thread> threads;
  for (std::size_t line = 0; line < bridges.size(); ++line) {
    threads.emplace_back([&, line] {
      for (std::size_t n = line * radios.size(); n < (line + 1) * radios.size(); ++n) {
        if (reached[n]) reports[n] = runProfile(request, links[n]);
      }
    });
  }
  for (std::thread &thread : threads) thread.join();
  return reports;
}

RadioReport unreachable(const RadioLink &link, const Json &failure) {
  return failed(reportOf(link), failure);
}

int printReports(const std::vector<RadioReport> &reports, bool json, bool many) {
  int status = common::kExitOk;
  for (const RadioReport &report : reports) {
    std::string text =
        json ? report.object.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n"
             : report.text;
    if (many && !json) text = report.heading + ":\n" + text;
    const std::string failure =
        report.failure.empty() || !many ? report.failure : report.heading + ": " + report.failure;
    if (!printOutput(text, failure)) return common::kExitFailed;
    status = std::max(status, report.status);
  }
  return status;
}

}  // namespace radioctl
