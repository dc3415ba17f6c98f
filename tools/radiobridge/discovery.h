// SPDX-License-Identifier: MIT
// Announcements for home-automation dashboards: the retained configuration
// messages from which a Home Assistant hub builds the entities of each
// radio (frequency, mode slot, tones, buttons, diagnostic sensors; those
// that show a reader the radio does not support left out) and of the line
// (its metrics' diagnostic sensors), the nodes they hang under (one for
// each base and line, and for each radio on it), and the
// rule for which retained configurations under the discovery prefix are
// this bridge's own and no longer announced, so that the session clears
// them. Pure, with no I/O: the worker publishes what comes out when it
// publishes a radio's state, and the session applies the clearing rule to
// what it reads when it claims the line.
#ifndef RADIOBRIDGE_DISCOVERY_H
#define RADIOBRIDGE_DISCOVERY_H

#include <string>
#include <utility>
#include <vector>

#include "topics.h"

namespace radiobridge {

struct DiscoverySettings {
  bool enabled = true;  // false: announce nothing, clear all of this line's announcements
  std::string prefix;   // PREFIX in PREFIX/COMPONENT/NODE/OBJECT/config
  std::string topic_base;
  std::string line;
};

// One retained configuration message: its topic and payload.
using Announcement = std::pair<std::string, common::Json>;

class Discovery {
 public:
  Discovery(DiscoverySettings settings, const common::Topics &topics);

  // NODE of `radio`: BASE_LINE_RR, where BASE and LINE keep their ASCII
  // letters and digits and write every other byte as - and two hex digits
  // ('shack 1' as shack-201, 'shack_1' as shack-5f1): one NODE for each
  // base, line and radio, and none shared.
  std::string node(int radio) const;
  // The configuration of each entity of `radio`, whose version text is
  // `version` ("" while unknown: the device then names no model or
  // software version), but for those that show a reader in `without`,
  // which the radio does not support; none when discovery is off.
  std::vector<Announcement> announcements(int radio, const std::string &version,
                                          const std::vector<std::string> &without = {}) const;
  // The configuration of the line's own entities (NODE BASE_LINE): the
  // requests per minute and the line's busy share from its metrics; none
  // when discovery is off.
  std::vector<Announcement> lineAnnouncements() const;
  // The configuration topics of the entities left out for `without`.
  std::vector<std::string> withdrawn(int radio, const std::vector<std::string> &without) const;
  // The filter that takes every configuration a node of ours may have.
  std::string filter() const { return config_topics_.filter(); }
  // Whether `topic` lies under the discovery prefix.
  bool under(const std::string &topic) const { return config_topics_.under(topic); }
  // Whether `topic` is the configuration of an entity under one of this
  // line's nodes (BASE_LINE, or BASE_LINE_ and two hex digits) that is not
  // made now:
  // a radio no longer served, an entity no longer announced, or any with
  // discovery off. Other devices' configurations are never stale.
  bool stale(const std::string &topic) const;

 private:
  std::string lineNode() const;
  std::string nodeHead() const;

  DiscoverySettings settings_;
  const common::Topics &topics_;
  common::ConfigTopics config_topics_;
};

}  // namespace radiobridge

#endif  // RADIOBRIDGE_DISCOVERY_H
