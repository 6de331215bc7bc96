#include "runner/cli/site_reloader.h"

#include <signal.h>

#include <atomic>
#include <exception>

namespace runner {
namespace {

// What the handler may touch: a lock-free flag and the host to wake.
std::atomic<bool> reload_asked{false};
Poller* reload_host = nullptr;

void OnReloadSignal(int) {
  reload_asked.store(true);
  if (reload_host != nullptr) reload_host->Wake();
}

}  // namespace

SiteReloader::SiteReloader(Poller& host, std::function<Site()> reread)
    : host_(host), reread_(std::move(reread)) {
  reload_host = &host;
  struct sigaction action {};
  action.sa_handler = OnReloadSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGHUP, &action, &old_);
}

SiteReloader::~SiteReloader() {
  sigaction(SIGHUP, &old_, nullptr);
  reload_host = nullptr;
}

std::optional<SiteChanges> SiteReloader::RunIfAsked() {
  if (!reload_asked.exchange(false)) return std::nullopt;
  if (!reread_) {
    host_.events().Add("reload refused: the built-in site has no file to read again");
    return std::nullopt;
  }
  try {
    return host_.ApplySite(reread_());
  } catch (const SiteError& e) {
    host_.events().Add(std::string("reload refused: ") + e.what());
  } catch (const std::exception& e) {
    host_.events().Add(std::string("reload failed: ") + e.what());
  }
  return std::nullopt;
}

}  // namespace runner
