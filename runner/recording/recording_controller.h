#pragma once
// A host controller for tests: records every call a device makes, in order,
// and answers from a script (peer values or throws, the devices' clock, the
// results of the host's checks). Transcript() renders the calls as lines so
// that a test reads as the exchange it expects.

#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include <boost/date_time/posix_time/posix_time_types.hpp>

#include "host/qorv_controller.h"
#include "host/v_device_interface.h"
#include "runner/plugin_access/device_clock.h"

namespace runner::recording {

// The devices' local time as a test sets it. Setting or advancing it holds
// the process's device clock (runner/plugin_access/device_clock.h) at the new
// time, which is what every device reads next.
class DeviceTime {
 public:
  explicit DeviceTime(boost::posix_time::ptime start) : hold_(start) {}
  DeviceTime& operator=(boost::posix_time::ptime local) {
    hold_.Set(local);
    return *this;
  }
  DeviceTime& operator=(const DeviceTime& other) { return *this = other.Get(); }
  DeviceTime& operator+=(boost::posix_time::time_duration step) { return *this = Get() + step; }
  boost::posix_time::ptime Get() const { return hold_.Get(); }
  operator boost::posix_time::ptime() const { return Get(); }

 private:
  plugin_access::DeviceClockHold hold_;
};

struct HostCall {
  enum class Kind {
    kSendData,
    kRefreshStatus,
    kReset,
    kGetSPValue,
    kSendSP,
    kSaveDeviceHistory,
    kCheckThreshold,
    kCheckAOReport,
    kDoBatchCheckThreshold,
  };
  explicit HostCall(Kind k) : kind(k) {}

  Kind kind;
  unsigned device_id = 0;            // data id of the calling device (0 for Get_SP_Value)
  std::string name;                  // value, signal or peer value name
  std::string text;                  // display text of a threshold check
  float value = 0.0f;                // checked value, or the peer answer
  int number = 0;                    // point, type code, peer id or rule count
  bool flag = false;                 // SendSP flag; a result of a check; peer threw
  std::vector<unsigned char> bytes;  // frame or record

  // "SendData FE FE 81 A1 22", "CheckThreshold battery_0_value 第1节电池 13.3 1", ...
  std::string ToString() const;
};

class RecordingController : public QorvController {
 public:
  using Lines = std::vector<std::string>;

  RecordingController();

  // --- the script ---
  DeviceTime now;  // the local time devices read
  void Advance(long seconds) { now += boost::posix_time::seconds(seconds); }
  void SetPeerValue(unsigned id, const std::string& name, float value);
  void SetPeerThrows(unsigned id, const std::string& name);
  // Answers look-ups of `id` by asking `device` (for wiring real peers);
  // nullptr unwires it again (a destroyed peer).
  void SetPeerDevice(unsigned id, const VDeviceInterface* device);
  int send_result = -2;  // SendData's result; -2 means "the frame length"
  bool ao_report_result = false;
  bool batch_result = false;

  // --- what happened ---
  std::vector<HostCall> calls;
  std::vector<HostCall> CallsOf(HostCall::Kind kind) const;
  Lines Transcript() const;
  // Transcript without the kinds given, e.g. to look only at frames.
  Lines TranscriptOf(std::initializer_list<HostCall::Kind> kinds) const;
  // Bytes of every SendData, one string "FE FE 81 A1 22" each.
  Lines Frames() const;
  void Clear() { calls.clear(); }

  // --- QorvController ---
  int SendData(QorvSPDevice& device, const unsigned char* data, unsigned len) override;
  void RefreshStatus(QorvSPDevice& device) override;
  void Reset(QorvVDevice& device) override;
  float Get_SP_Value(unsigned data_id, const std::string& name) override;
  void SendSP(QorvVDevice& device, int type_code, const unsigned char* data, unsigned len,
              bool flag) override;
  void SaveDeviceHistory(QorvVDevice& device, const unsigned char* data, unsigned len) override;
  void CheckThreshold(QorvVDevice& device, const std::string& name, const std::string& text,
                      const float& value, int point) override;
  bool CheckAOReport(QorvVDevice& device, const std::string& name, float value) override;
  bool DoBatchCheckThreshold(QorvVDevice& device, const std::vector<rule_value>& rules) override;

 private:
  struct PeerAnswer {
    bool throws = false;
    float value = 0.0f;
  };
  std::map<std::pair<unsigned, std::string>, PeerAnswer> peer_answers_;
  std::map<unsigned, const VDeviceInterface*> peer_devices_;
};

// "FE FE 81 A1 22" from bytes, and back.
std::string Hex(const unsigned char* data, unsigned len);
std::string Hex(const std::vector<unsigned char>& bytes);
std::vector<unsigned char> Bytes(const std::string& hex);

}  // namespace runner::recording
