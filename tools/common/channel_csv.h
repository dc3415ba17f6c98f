// SPDX-License-Identifier: MIT
// A channel table in CSV as a profile: a header line naming the columns
// (slot and the VFO values a channel may name: frequency, duplex, tx_tone,
// rx_tone, offset, in any order), then one mode slot a line, each value in
// radioctl's command-line form (146.52M, -600k, 88.5) or empty when the
// channel leaves it alone. A bad line is refused by its number. Pure, no
// I/O.
#ifndef RADIOLINE_COMMON_CHANNEL_CSV_H
#define RADIOLINE_COMMON_CHANNEL_CSV_H

#include <optional>
#include <string>

#include "commands.h"

namespace common {

// The profile {"channels":[…]} of the table `text`, in the table's order.
// On a problem `problem` says what and `line` is its line number.
std::optional<Json> channelsFromCsv(const std::string &text, std::string &problem, int &line);

}  // namespace common

#endif  // RADIOLINE_COMMON_CHANNEL_CSV_H
