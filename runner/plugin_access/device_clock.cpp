#include "runner/plugin_access/device_clock.h"

#include <time.h>

#include <atomic>
#include <cstdlib>
#include <ctime>
#include <string>

#include <boost/date_time/posix_time/posix_time_types.hpp>

namespace {

// The process's clock state. Holders come and go on one thread (a test, the
// host's loop); time() may be read from any. The held count is a time_t,
// the width the C library answers in, so the atomic stays lock-free on
// 32-bit targets without libatomic.
std::atomic<bool> g_held{false};
std::atomic<std::time_t> g_held_seconds{0};
// A pause freezes the free-running clock for one device call.
std::atomic<bool> g_paused{false};
std::atomic<std::time_t> g_paused_seconds{0};
int g_pauses = 0;
int g_holders = 0;
bool g_had_tz = false;
std::string g_saved_tz;

const boost::posix_time::ptime kEpoch(boost::gregorian::date(1970, 1, 1));

// While held the process runs in UTC: localtime() of the held count of
// seconds is then the held local date-time, whatever zone the machine has.
void EnterUtc() {
  const char* tz = std::getenv("TZ");
  g_had_tz = tz != nullptr;
  g_saved_tz = g_had_tz ? tz : "";
  setenv("TZ", "UTC0", 1);
  tzset();
}

void LeaveUtc() {
  if (g_had_tz)
    setenv("TZ", g_saved_tz.c_str(), 1);
  else
    unsetenv("TZ");
  tzset();
}

}  // namespace

// The C library's time(), exported from the host executable so that the
// plug-in's reference resolves here before the C library's own.
extern "C" std::time_t time(std::time_t* out) noexcept {
  std::time_t now;
  if (g_held.load(std::memory_order_acquire)) {
    now = g_held_seconds.load(std::memory_order_relaxed);
  } else if (g_paused.load(std::memory_order_acquire)) {
    now = g_paused_seconds.load(std::memory_order_relaxed);
  } else {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    now = ts.tv_sec;
  }
  if (out != nullptr) *out = now;
  return now;
}

namespace plugin_access {

DeviceClockHold::DeviceClockHold(boost::posix_time::ptime local) {
  if (g_holders++ == 0) EnterUtc();
  Set(local);
}

DeviceClockHold::~DeviceClockHold() {
  if (--g_holders > 0) return;
  g_held.store(false, std::memory_order_release);
  LeaveUtc();
}

void DeviceClockHold::Set(boost::posix_time::ptime local) {
  local_ = local;
  const auto seconds = local.is_special() ? 0 : (local - kEpoch).total_seconds();
  g_held_seconds.store(static_cast<std::time_t>(seconds), std::memory_order_relaxed);
  g_held.store(true, std::memory_order_release);
}

DeviceClockPause::DeviceClockPause() {
  std::time_t now = time(nullptr);
  if (g_pauses++ == 0) {
    g_paused_seconds.store(now, std::memory_order_relaxed);
    g_paused.store(true, std::memory_order_release);
  } else {
    now = g_paused_seconds.load(std::memory_order_relaxed);
  }
  std::tm tm{};
  localtime_r(&now, &tm);
  local_ = boost::posix_time::ptime(
      boost::gregorian::date(static_cast<unsigned short>(tm.tm_year + 1900),
                             static_cast<unsigned short>(tm.tm_mon + 1),
                             static_cast<unsigned short>(tm.tm_mday)),
      boost::posix_time::time_duration(tm.tm_hour, tm.tm_min, tm.tm_sec));
}

DeviceClockPause::~DeviceClockPause() {
  if (--g_pauses == 0) g_paused.store(false, std::memory_order_release);
}

}  // namespace plugin_access
