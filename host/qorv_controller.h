#pragma once
// The host side of every device base-class operation.
//
// A host process implements one QorvController and hands it to each device
// in QorvVDevice::Init. Every host service a device uses (sending on its
// port, peer values, publishing, history, alarm checks) is a
// base-class operation that forwards here, naming the calling device. The
// reference host implements it for real; tests implement it by recording
// the calls.
//
// Ownership: the host owns the controller and keeps it alive while any of
// its devices runs; devices hold only a std::weak_ptr and treat an expired
// controller as "no host" (nothing sent, peer look-ups fail).
// Calls arrive on the thread that called into the device.

#include <string>
#include <vector>

#include "host/rule_value.h"
#include "host/visibility.h"

class QorvVDevice;
class QorvSPDevice;

class QORV_API QorvController {
 public:
  virtual ~QorvController();

  // Puts `len` bytes on the device's serial line. Returns the count sent, or
  // a negative number when the port is not open.
  virtual int SendData(QorvSPDevice& device, const unsigned char* data, unsigned len) = 0;

  // The serial base's own poll-tick work, run when a device starts a cycle.
  virtual void RefreshStatus(QorvSPDevice& device);

  // The serial base's reset, run after a device publishes its record.
  virtual void Reset(QorvVDevice& device);

  // Value `name` of the device with data id `data_id`. Throws
  // std::out_of_range when the value cannot be had.
  virtual float Get_SP_Value(unsigned data_id, const std::string& name) = 0;

  // Publication of a data record under its data type code.
  virtual void SendSP(QorvVDevice& device, int type_code, const unsigned char* data, unsigned len,
                      bool flag);

  // A record handed to the history store. Which records become stored rows
  // is the host's decision.
  virtual void SaveDeviceHistory(QorvVDevice& device, const unsigned char* data, unsigned len);

  // Threshold evaluation of one value; `text` is the display text and
  // `point` the 1-based point number.
  virtual void CheckThreshold(QorvVDevice& device, const std::string& name, const std::string& text,
                              const float& value, int point);

  // Analog report check; true when the value counts as changed.
  virtual bool CheckAOReport(QorvVDevice& device, const std::string& name, float value);

  // Evaluates a device's rule batch; true when a rule fired.
  virtual bool DoBatchCheckThreshold(QorvVDevice& device, const std::vector<rule_value>& rules);
};
