#include "host/qorv_spdevice.h"

#include <utility>

QorvSPDevice::QorvSPDevice() = default;
QorvSPDevice::~QorvSPDevice() = default;

void QorvSPDevice::Reset() { QorvVDevice::Reset(); }

int QorvSPDevice::Init(std::weak_ptr<QorvController> controller, unsigned data_id,
                       const Json::Value& host_setting) {
  QorvVDevice::Init(std::move(controller), data_id, host_setting);
  if (!host_setting.isObject() || !host_setting.isMember("address")) return 1;
  const Json::Value& address = host_setting["address"];
  if (!address.isUInt()) return 0;
  addr_ = static_cast<unsigned char>(address.asUInt() & 0xFFu);
  return 1;
}

int QorvSPDevice::RefreshStatus() {
  if (auto c = controller_.lock()) c->RefreshStatus(*this);
  return 1;
}

int QorvSPDevice::process(unsigned char*, unsigned) { return 0; }
bool QorvSPDevice::IsProcessing() const { return false; }
bool QorvSPDevice::IsStalled() const { return false; }

int QorvSPDevice::SendData(const unsigned char* data, unsigned len) {
  auto c = controller_.lock();
  return c ? c->SendData(*this, data, len) : -1;
}

int QorvSPDevice::SendParityData(const unsigned char* data, unsigned len) {
  return QorvSPDevice::SendData(data, len);
}

int QorvSPDevice::OpenPort() { return 0; }
int QorvSPDevice::ClosePort() { return 0; }
