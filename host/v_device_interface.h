#pragma once
// The innermost device interface: what any host component may ask of a
// device, whatever its kind. The slot order of these virtual operations is
// part of the binary contract between host and plug-ins; never reorder.

#include <string>

#include "host/visibility.h"

class QORV_API VDeviceInterface {
 public:
  // Value `name` of the device. The default has no data: std::out_of_range
  // "数据未就绪".
  virtual float Get_Value(unsigned index, const std::string& name) const;
  // Restores the device from a cached record held as text; passes the text's
  // bytes and length to the overload below.
  virtual bool LoadFromCache(const std::string& image);
  // Restores the device from a cached record image; true when taken.
  virtual bool LoadFromCache(const unsigned char* image, int len) = 0;
  // The data id the host gave the device in Init, and its type string.
  // Not const: the host's interface declares them so, and the plug-in's
  // virtual tables refer to exactly these operations.
  virtual unsigned DataId();
  virtual std::string DeviceType();
  // Device-specific control request. The default knows no code: -2.
  virtual int DeviceIoControl(int code, const void* in, int in_len, void* out, int out_len,
                              int& out_size);
  // End-of-round work, run by the device itself after its last reply.
  virtual void RoundDone();
  // Whether the device keeps its data in the controller's database.
  virtual bool UseControllerDb();

 protected:
  VDeviceInterface() = default;
  // Devices are destroyed through QorvVDevice, which owns the virtual
  // destructor; this interface has none.
  ~VDeviceInterface() = default;
  VDeviceInterface(const VDeviceInterface&) = default;
  VDeviceInterface& operator=(const VDeviceInterface&) = default;

  // They live here because DataId() and DeviceType() answer from them.
  // QorvVDevice::Init stores the data id; a device's constructors write its
  // type string.
  unsigned data_id_ = 0;
  std::string device_type_;
};
