#pragma once
// Battery: a serial battery monitor, polled as a fixed cycle of four
// request/reply exchanges.
//
//   tick    > FE FE aa A1 ss   cell voltages   < 67-byte cell reply   state 1
//           > FE FE aa A2 ss   group voltage   < ED aa hh ll ss       state 2
//           > FE FE aa A3 ss   current         < ED aa hh ll ss       state 3
//           > FE FE aa A4 ss   temperature     < ED aa hh ll ss       state 4
//           RoundDone: record, checks, history (the data device above)
//
// The host ticks RefreshStatus and hands every received chunk to process.
// A missing reply is sent again on later ticks, at most three times in one
// cycle in total; a bad reply abandons the cycle and the next tick starts a
// new one. The cell reply is decoded by the concrete device
// (ProcessBatteryVoltage); the three scalar replies are decoded here.

#include <cstdint>
#include <string>
#include <vector>

#include <json/value.h>

#include "host/qorv_spdevice.h"

class Battery : public QorvSPDevice {
 public:
  Battery();
  ~Battery() override;

  // "group_voltage", "group_current" or "temperature"; anything else throws
  // std::out_of_range "不支持变量". The index is not used.
  float Get_Value(unsigned index, const std::string& name) const override;
  bool LoadFromCache(const unsigned char* image, int len) override = 0;
  using QorvSPDevice::LoadFromCache;
  // Code 100: `in` holds a 16-bit count of minutes, the history interval
  // (0 means the default of 8 hours). Returns -1 without `in` or with
  // in_len below 2; 0 otherwise, for every code.
  int DeviceIoControl(int code, const void* in, int in_len, void* out, int out_len,
                      int& out_size) override;
  void RoundDone() override = 0;
  // Reads the monitor settings under "appSetting" and moves the bus address
  // into the monitor's range (plus 0x80). Always 1, unless the JSON library
  // throws for a setting that has no text form.
  int InitSetting(const Json::Value& setting) override;
  // Poll tick: re-sends a missing reply's request while the cycle's budget
  // lasts, else starts a new cycle. Always 1.
  int RefreshStatus() override;
  // A received chunk. 1 while a further reply is awaited, else 0.
  int process(unsigned char* data, unsigned len) override;

  // Decodes the cell reply gathered in msg_buf while call_state_ is 1:
  // 1 while incomplete or when taken (the group request is then sent), 0
  // when refused (call_state_ is then 0).
  virtual int ProcessBatteryVoltage() = 0;

  unsigned char GetMMCheckSum(unsigned char* data, int len);

 protected:
  static constexpr int kResendBudget = 3;  // re-sends per cycle, all requests together
  static constexpr std::int32_t kDefaultSaveInterval = 28800;  // seconds, 8 hours

  void CallVoltage();
  void CallGroupVoltage();
  void CallCurrent();
  void CallTemperature();

  std::int32_t call_state_ = 0;  // 0 idle; 1..4 the reply awaited (A1..A4)
  std::int32_t version_ = 1;     // 2: group voltage counts 0.01 V, else 0.1 V
  std::int32_t dir_ = 0;         // non-zero: cells arrive in reverse order
  std::int32_t retry_count_ = 0;
  float group_voltage_ = 0.0f;     // volts
  float group_current_ = 0.0f;     // amperes
  float temperature_ = 0.0f;       // degrees Celsius
  std::int32_t battery_type_ = 0;  // 6: 6 V blocks in 0.001 V; else 12 V blocks in 0.01 V
  float group_a_ = 1.0f;           // multiplier of the monitor's group voltage
  float group_b_ = 0.0f;           // offset added after it
  float battery_adjust_ = 0.0f;    // volts added to every cell
  std::vector<std::int32_t> active_batteries_;    // cells checked against thresholds; empty: all
  std::vector<std::uint32_t> group_voltage_ids_;  // peers whose group voltage is added
  bool group_voltage_valid_ = true;               // false when a peer's voltage was missing
  std::int32_t battery_start_ = 0;                // numbering offset of cells in alarm texts
  std::int32_t current_ratio_ = 0;                // non-zero: current sensor encoding
  std::uint32_t r_data_id_ = 0;                   // peer that supplies the current instead
  std::string r_current_field_;                   // value name asked of that peer
  std::int32_t save_interval_ = kDefaultSaveInterval;  // seconds
  float t0_ = 0.0f;   // correction of the first reading on the wire
  float t31_ = 0.0f;  // correction of one further reading, chosen by the device

 private:
  void SendRequest(unsigned char command, std::int32_t state);
  void ResendCurrentRequest();
  int ProcessScalarReply();
  void TakeGroupVoltage(std::uint16_t reading);
  void TakeCurrent(std::uint16_t reading);
  void TakeTemperature(std::uint16_t reading);
};
