// SPDX-License-Identifier: MIT
// Reading a channel table: lines split at commas, each cell trimmed of
// blanks and of one pair of double quotes (as spreadsheets write them),
// blank lines skipped. The columns are the channel keys of the profile's
// table, and each cell is read by the value reader of its key's kind.
#include "channel_csv.h"

#include <algorithm>
#include <map>
#include <sstream>
#include <vector>

#include "profile.h"
#include "text.h"

namespace common {
namespace {

constexpr const char *kBlanks = " \t\r";

std::string trimmed(const std::string &cell) {
  const std::size_t first = cell.find_first_not_of(kBlanks);
  if (first == std::string::npos) return {};
  std::string text = cell.substr(first, cell.find_last_not_of(kBlanks) + 1 - first);
  if (text.size() >= 2 && text.front() == '"' && text.back() == '"') {
    text = text.substr(1, text.size() - 2);
  }
  return text;
}

std::vector<std::string> cellsOf(const std::string &line) {
  std::vector<std::string> cells;
  std::istringstream in(line);
  for (std::string cell; std::getline(in, cell, ',');) cells.push_back(trimmed(cell));
  if (!line.empty() && line.back() == ',') cells.emplace_back();
  return cells;
}

std::string joinedNames(const std::vector<std::string> &names) {
  std::string text;
  for (const std::string &name : names) text += (text.empty() ? "" : ", ") + name;
  return text;
}

// The keys the header names, in its order; problems as for the rows.
std::optional<std::vector<std::string>> readHeader(const std::string &line, std::string &problem) {
  const std::vector<std::string> known = channelNames();
  std::vector<std::string> columns = cellsOf(line);
  for (auto column = columns.begin(); column != columns.end(); ++column) {
    if (std::find(known.begin(), known.end(), *column) == known.end()) {
      problem = "unknown column '" + quote(*column) + "' (columns: " + joinedNames(known) + ")";
      return std::nullopt;
    }
    if (std::find(columns.begin(), column, *column) != column) {
      problem = "column " + *column + " named twice";
      return std::nullopt;
    }
  }
  if (std::find(columns.begin(), columns.end(), "slot") == columns.end()) {
    problem = "no slot column";
    return std::nullopt;
  }
  return columns;
}

std::optional<Json> readRow(const std::vector<std::string> &columns, const std::string &line,
                            std::string &problem) {
  const std::vector<std::string> cells = cellsOf(line);
  if (cells.size() != columns.size()) {
    problem = std::to_string(cells.size()) + " cells, and the header names " +
              std::to_string(columns.size()) + " columns";
    return std::nullopt;
  }
  Json channel = Json::object();
  for (const std::string &name : channelNames()) {
    const auto column = std::find(columns.begin(), columns.end(), name) - columns.begin();
    if (column == static_cast<long>(columns.size())) continue;
    const std::string &cell = cells[static_cast<std::size_t>(column)];
    if (cell.empty() && name != "slot") continue;
    const ValueKind kind = name == "slot" ? ValueKind::kMode : findProfileKey(name)->kind;
    const Value value = parseValue(kind, cell);
    if (!value.number) {
      problem = name + " '" + quote(cell) + "' " + value.problem;
      return std::nullopt;
    }
    channel[name] = profileNumber(kind, *value.number);
  }
  return channel;
}

}  // namespace

std::optional<Json> channelsFromCsv(const std::string &text, std::string &problem, int &line) {
  std::istringstream in(text);
  std::optional<std::vector<std::string>> columns;
  std::map<long, int> slots;  // the line of each slot
  Json channels = Json::array();
  line = 0;
  for (std::string row; std::getline(in, row);) {
    ++line;
    if (trimmed(row).empty()) continue;
    if (!columns) {
      columns = readHeader(row, problem);
      if (!columns) return std::nullopt;
      continue;
    }
    const std::optional<Json> channel = readRow(*columns, row, problem);
    if (!channel) return std::nullopt;
    const long slot = channel->at("slot").get<long>();
    if (!slots.emplace(slot, line).second) {
      problem = "slot " + std::to_string(slot) + " is also on line " + std::to_string(slots[slot]);
      return std::nullopt;
    }
    channels.push_back(*channel);
  }
  if (channels.empty()) {
    problem = columns ? "no channel under the header" : "no header line naming the columns";
    return std::nullopt;
  }
  return Json{{"channels", channels}};
}

}  // namespace common
