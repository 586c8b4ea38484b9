#pragma once

// What the events pane's filter lets through: six lists; an empty list places no
// restriction. The port groups are copies of the scheme's groups, not pointers
// into it: the scheme may be edited or reloaded (which deletes its groups) while
// a filter built from it is still in force.

#include "channel/SchemeGroup.h"

#include <cstdint>
#include <string>
#include <vector>

namespace events {

struct FilterCriteria
{
    std::vector<std::int32_t> statuses;           // EventStatus values
    std::vector<std::int32_t> descriptions;       // event codes
    std::vector<std::int32_t> protocols;          // 1 TCP, 2 UDP, 3 IP
    std::vector<std::string> senders;             // exact sender texts
    std::vector<std::string> receivers;           // exact receiver texts ("" matches no receiver)
    std::vector<channel::SchemeGroup> portGroups; // channel groups with their port pairs

    bool operator==(const FilterCriteria&) const = default;
};

} // namespace events
