#pragma once
// A virtual device of the host: a data id, a type, the controller it serves
// and the host operations it may call. Every host operation below forwards
// to the controller handed to Init (see host/qorv_controller.h).
//
// Lifetime: the host creates devices through a provider, holds them (in a
// std::shared_ptr or as a raw owner) and destroys them through this class's
// virtual destructor before it unloads the plug-in that made them.

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <boost/date_time/posix_time/ptime.hpp>
#include <json/value.h>

#include "host/qorv_controller.h"
#include "host/rule_value.h"
#include "host/v_device_interface.h"
#include "host/visibility.h"

class QORV_API QorvVDevice : public VDeviceInterface,
                             public std::enable_shared_from_this<QorvVDevice> {
 public:
  QorvVDevice();
  virtual ~QorvVDevice();

  // Virtual operations, in slot order after VDeviceInterface's.
  virtual void Reset();
  virtual int InitV();
  // Binds the device to its host: the controller, the data id by which peers
  // find it, and the host's own settings for it. Returns 1.
  virtual int Init(std::weak_ptr<QorvController> controller, unsigned data_id,
                   const Json::Value& host_setting);
  // Applies the device's own configuration. The default takes nothing: 1.
  virtual int InitSetting(const Json::Value& setting);
  virtual bool IsSupportDevice(const std::string& type) const;
  virtual std::shared_ptr<QorvVDevice> GetChildVDevice(unsigned index) const;
  virtual std::vector<std::shared_ptr<QorvVDevice>> GetAllChildVDevices() const;
  virtual void SendSP(int type_code, const unsigned char* data, unsigned len, bool flag);
  virtual int SendDelayData(const unsigned char* data, unsigned len, int delay_ms);
  virtual int SendDoData(unsigned point, int value);
  virtual int ReadDi(unsigned point);
  virtual float ReadAi(unsigned point);
  // Value `name` of the peer device `data_id`; std::out_of_range when it
  // cannot be had (also when the device has no host).
  virtual float Get_SP_Value(unsigned data_id, const std::string& name);

  // Host operations that are not virtual.
  void SaveDeviceHistory(const unsigned char* data, unsigned len);
  void CheckThreshold(const std::string& name, const std::string& text, const float& value,
                      int point);
  bool CheckAOReport(const std::string& name, float value);
  bool DoBatchCheckThreshold(const std::vector<rule_value>& rules);

 protected:
  boost::posix_time::ptime update_time_;  // local time of the last exchange
  bool data_ready_ = false;               // values filled at least once
  bool data_changed_ = false;             // the last round changed something
  std::int16_t device_state_ = 0;
  std::vector<rule_value> rule_values_;  // this round's rule batch
  std::vector<std::string> ao_names_;    // analog keys checked every round
  std::map<std::string, float> ao_values_;
  std::map<std::string, int> threshold_levels_;
  std::map<std::string, float> threshold_values_;

 private:
  friend class QorvSPDevice;  // its line operations forward to the same controller
  std::weak_ptr<QorvController> controller_;
};
