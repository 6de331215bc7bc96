#include "host/qorv_vdevice.h"

#include <stdexcept>
#include <utility>

QorvVDevice::QorvVDevice() = default;
QorvVDevice::~QorvVDevice() = default;

void QorvVDevice::Reset() {
  if (auto c = controller_.lock()) c->Reset(*this);
}

int QorvVDevice::InitV() { return 1; }

int QorvVDevice::Init(std::weak_ptr<QorvController> controller, unsigned data_id,
                      const Json::Value&) {
  controller_ = std::move(controller);
  data_id_ = data_id;
  return 1;
}

int QorvVDevice::InitSetting(const Json::Value&) { return 1; }

bool QorvVDevice::IsSupportDevice(const std::string& type) const { return type == device_type_; }

std::shared_ptr<QorvVDevice> QorvVDevice::GetChildVDevice(unsigned) const { return nullptr; }

std::vector<std::shared_ptr<QorvVDevice>> QorvVDevice::GetAllChildVDevices() const { return {}; }

void QorvVDevice::SendSP(int type_code, const unsigned char* data, unsigned len, bool flag) {
  if (auto c = controller_.lock()) c->SendSP(*this, type_code, data, len, flag);
}

int QorvVDevice::SendDelayData(const unsigned char*, unsigned, int) { return -1; }
int QorvVDevice::SendDoData(unsigned, int) { return -1; }
int QorvVDevice::ReadDi(unsigned) { return -1; }
float QorvVDevice::ReadAi(unsigned) { return 0.0f; }

float QorvVDevice::Get_SP_Value(unsigned data_id, const std::string& name) {
  auto c = controller_.lock();
  if (!c) throw std::out_of_range("no host for peer value " + name);
  return c->Get_SP_Value(data_id, name);
}

void QorvVDevice::SaveDeviceHistory(const unsigned char* data, unsigned len) {
  if (auto c = controller_.lock()) c->SaveDeviceHistory(*this, data, len);
}

void QorvVDevice::CheckThreshold(const std::string& name, const std::string& text,
                                 const float& value, int point) {
  if (auto c = controller_.lock()) c->CheckThreshold(*this, name, text, value, point);
}

bool QorvVDevice::CheckAOReport(const std::string& name, float value) {
  auto c = controller_.lock();
  return c && c->CheckAOReport(*this, name, value);
}

bool QorvVDevice::DoBatchCheckThreshold(const std::vector<rule_value>& rules) {
  auto c = controller_.lock();
  return c && c->DoBatchCheckThreshold(*this, rules);
}
