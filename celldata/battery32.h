#pragma once
// Battery32: a battery string of up to 32 cells on one serial monitor.
//
// Live cell voltages come from the monitor's cell reply; at the end of each
// completed round they are copied into the record together with the string
// values, and the round's threshold checks run on the record. Value queries
// answer cells from the record (the last completed round, or the cache) and
// the string values live.

#include <cstdint>
#include <string>

#include "battery/battery.h"
#include "battery/wire.h"
#include "celldata/battery32_record.h"
#include "celldata/uni_data_device.h"

class Battery32 : public UniDataDevice<Battery32_Data_t, Battery, kBattery32DataTypeCode> {
 public:
  Battery32();
  ~Battery32() override;

  // "battery_<n>_value" (anywhere in the name, n below the cell count): the
  // record's cell n; otherwise the string values of Battery. Throws
  // std::out_of_range "数据未就绪" before the first round or cache restore,
  // "数据已超时" when that is more than 60 s old, "不支持变量" for names
  // it does not know. The index is not used.
  float Get_Value(unsigned index, const std::string& name) const override;
  // Takes a 152-byte image as the record and the string values from it,
  // without running a round. A null image or any other length: false,
  // nothing changes.
  bool LoadFromCache(const unsigned char* image, int len) override;
  using UniDataDevice::LoadFromCache;
  // The 32-reading cell reply, with a line on standard output for a refused
  // frame and around the group-voltage request.
  int ProcessBatteryVoltage() override;
  // Change detection, record refresh, then the string and cell checks.
  void RunCheckThreshold() override;

 protected:
  // Checks the start byte, the address and the checksum of the cell reply
  // at the start of msg_buf (at least 67 bytes held).
  halvex::wire::ReplyCheck CheckCellReply() const;
  // Turns readings 0 .. readings - 1 of the cell reply into cell voltages:
  // scale, battery_adjust_, t0_ on wire position 0 and t31_ on wire position
  // `t31_position`, then the validity window. With dir_ set the string is
  // wired the other way round: position i is cell readings - 1 - i.
  void DecodeCellReadings(int readings, int t31_position);
  // cell_count_, bounded by the record's slots.
  int CellCount() const;

  float cell_voltages_[kRecordCells] = {};  // live, volts; 0.0 outside the window
  std::int32_t cell_count_ = kRecordCells;

 private:
  void RefreshRecord();
  bool RoundChangedData() const;
  void CheckStringThresholds();
  void CheckCellThresholds();
  void CheckCell(int cell);
};
