#pragma once
// The symlink a simulator puts at a fixed path (--link) so a site file can
// name its pseudo-terminal, whose number changes with every start.
//
// A simulator that was killed leaves its link behind, pointing at a
// pseudo-terminal that has gone (or whose number a new terminal reuses).
// Such a link is replaced; a link that a live simulator still serves, or a
// path that is not a symlink, is refused.

#include <stdexcept>
#include <string>

namespace sim {

class LinkError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Makes `link` point at `target`, replacing a stale link. Throws LinkError
// naming the path and what holds it.
void PlaceLink(const std::string& target, const std::string& link);

// Removes `link` if it still points at `target`: a simulator started since
// may own it now.
void RemoveLinkIfOurs(const std::string& target, const std::string& link);

}  // namespace sim
