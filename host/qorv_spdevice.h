#pragma once
// A virtual device on a serial line that the host owns. The host opens the
// port at baud_rate_, calls RefreshStatus on every poll tick and process with
// every chunk of bytes received; the device answers with SendData.

#include <cstdint>

#include "host/qorv_vdevice.h"
#include "host/visibility.h"

class QORV_API QorvSPDevice : public QorvVDevice {
 public:
  QorvSPDevice();
  ~QorvSPDevice() override;

  void Reset() override;
  // Also takes the bus address from host_setting["address"] (a non-negative
  // integer, kept modulo 256). Returns 0 when "address" is there but is not
  // such an integer.
  int Init(std::weak_ptr<QorvController> controller, unsigned data_id,
           const Json::Value& host_setting) override;

  // Virtual operations, in slot order after QorvVDevice's.
  // Poll tick. The base runs the host's tick work; returns 1.
  virtual int RefreshStatus();
  // A chunk received on the port. Returns 1 while a further reply is
  // awaited. The base awaits nothing: 0.
  virtual int process(unsigned char* data, unsigned len);
  virtual bool IsProcessing() const;
  virtual bool IsStalled() const;
  // Puts a frame on the line through the host; the count sent, or negative.
  virtual int SendData(const unsigned char* data, unsigned len);
  virtual int SendParityData(const unsigned char* data, unsigned len);
  virtual int OpenPort();
  virtual int ClosePort();

 protected:
  unsigned char addr_ = 0;  // bus address byte sent and expected on the wire
  // Reply buffer; protocols use a bounded prefix of it. 256 bytes is this
  // host's choice; the plug-in never reads past its 80-byte bound.
  unsigned char msg_buf[256] = {};
  std::uint32_t msg_len_ = 0;
  std::int32_t baud_rate_ = 9600;
};
