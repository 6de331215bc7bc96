#pragma once
// A capture of what the host does with each device, so that the device's
// life can be played back through the plug-in alone. The host tells a
// device's recorder about every call into the device, in the order made:
//
//   Begin(time the device reads)       before the call
//   PeerAnswer(...), Published(...)    while the device runs
//   Create / Configure / ... / Receive once the call returned
//
// Recorders live on the host's loop thread. A step that cannot be written
// throws std::runtime_error; the host then stops capturing that device.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <boost/date_time/posix_time/ptime.hpp>
#include <json/value.h>

#include "runner/site/site.h"

namespace runner {

class DeviceRecorder {
 public:
  using Bytes = std::vector<unsigned char>;
  virtual ~DeviceRecorder() = default;

  // A call into the device begins; it reads `device_time` as the local time.
  virtual void Begin(boost::posix_time::ptime device_time) = 0;
  // The host answered the device's look-up of a peer's value: the value, or
  // nothing when the look-up threw std::out_of_range.
  virtual void PeerAnswer(unsigned data_id, const std::string& name,
                          std::optional<float> value) = 0;
  // The device published a record (the state a later part starts from).
  virtual void Published(const Bytes& record) = 0;

  // The call that began, once it returned.
  virtual void Create(std::uint32_t data_id, unsigned address) = 0;
  virtual void Configure(const Json::Value& config) = 0;
  virtual void IoControl(int code, const Bytes& input) = 0;
  virtual void Cache(const Bytes& image) = 0;
  virtual void Tick() = 0;
  // `result` is process's answer: 0 when the exchange under way ended.
  virtual void Receive(const Bytes& chunk, int result) = 0;
};

// Opens a recorder for each device the host creates.
class CaptureSink {
 public:
  virtual ~CaptureSink() = default;
  // Throws std::runtime_error when the device's capture cannot be opened.
  virtual std::unique_ptr<DeviceRecorder> Open(const DeviceSettings& device) = 0;
};

}  // namespace runner
