#pragma once
// SIGHUP: the site file read again and put in force between two turns of
// the poll loop. The signal handler only notes the request and wakes the
// loop; reading, checking and applying happen on the poll thread.
//
//   SiteReloader reloader(host, [path] { return LoadSiteFile(path); });
//   ... each turn of the loop:
//   if (auto changes = reloader.RunIfAsked()) ...   // applied or refused

#include <signal.h>

#include <functional>
#include <optional>

#include "runner/lines/poller.h"
#include "runner/site/site.h"

namespace runner {

class SiteReloader {
 public:
  // Handles SIGHUP for its lifetime. `reread` reads the site as at start
  // (throws SiteError); empty when the site has no file, and a SIGHUP is
  // then told and otherwise ignored.
  SiteReloader(Poller& host, std::function<Site()> reread);
  ~SiteReloader();
  SiteReloader(const SiteReloader&) = delete;
  SiteReloader& operator=(const SiteReloader&) = delete;

  // When a SIGHUP came since the last call: the site read again and
  // applied (Poller::ApplySite), or refused with an event saying why.
  // Nothing when no reload was asked for or the file could not be used.
  std::optional<SiteChanges> RunIfAsked();
  Poller& host() const { return host_; }

 private:
  Poller& host_;
  std::function<Site()> reread_;
  struct sigaction old_ {};
};

}  // namespace runner
