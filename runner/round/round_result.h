#pragma once
// Everything the host learns from one completed round of one device. The
// controller builds it once, on the poll thread, when the device publishes
// its record; the live view, the JSON lines and the history writer read it,
// and so will anything else that follows the rounds. Nobody decodes the
// record a second time.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "runner/alarms/alarm_book.h"
#include "runner/alarms/string_health.h"
#include "runner/round/battery_record.h"
#include "runner/round/link_counters.h"
#include "runner/time/host_clock.h"

namespace runner {

// Where a device's cells sit in the record and in the whole string.
struct CellLayout {
  std::vector<int> active;  // configured cell slots, ascending
  int count = 0;            // cell slots up to the last configured one
  int first_number = 1;     // number of cell slot 0 in the whole string
};

struct RoundResult {
  std::string device;  // the device's name in the site
  unsigned data_id = 0;
  HostInstant at;                  // when the host took the record
  std::vector<unsigned char> raw;  // the record's bytes as published
  BatteryRecord record;            // the same, decoded
  CellLayout layout;
  std::vector<CellReading> cells;       // the configured cells, numbered as in the string
  std::optional<CellReading> min_cell;  // over the configured cells, 0 V included
  std::optional<CellReading> max_cell;
  std::optional<StringHealth> health;      // over the cells that gave a reading
  std::vector<AlarmChange> alarm_changes;  // raised and cleared in this round, in order
  LinkCounters link;                       // with this round counted

  // The reading of cell slot k; empty for a slot the site does not configure.
  std::optional<float> Cell(int k) const;
};

// The result of a published record; empty when the bytes are not a record.
// Alarm changes and link counters are the caller's to fill in.
std::shared_ptr<RoundResult> MakeRoundResult(const std::string& device, unsigned data_id,
                                             const HostInstant& at, const unsigned char* data,
                                             std::size_t len, const CellLayout& layout);

}  // namespace runner
