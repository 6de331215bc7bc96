#include "host/qorv_vdevice.h"

#include <stdexcept>
#include <utility>

#include <boost/date_time/posix_time/posix_time_types.hpp>

QorvVDevice::QorvVDevice() = default;
QorvVDevice::~QorvVDevice() = default;

void QorvVDevice::Reset() {
  if (auto c = Controller()) c->Reset(*this);
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
  if (auto c = Controller()) c->SendSP(*this, type_code, data, len, flag);
}

int QorvVDevice::SendDelayData(const unsigned char*, unsigned, int) { return -1; }
int QorvVDevice::SendDoData(unsigned, int) { return -1; }
int QorvVDevice::ReadDi(unsigned) { return -1; }
float QorvVDevice::ReadAi(unsigned) { return 0.0f; }

float QorvVDevice::Get_SP_Value(unsigned data_id, const std::string& name) {
  auto c = Controller();
  if (!c) throw std::out_of_range("no host for peer value " + name);
  return c->Get_SP_Value(data_id, name);
}

unsigned QorvVDevice::DataId() const { return data_id_; }
std::string QorvVDevice::DeviceType() const { return device_type_; }

void QorvVDevice::SaveDeviceHistory(const unsigned char* data, unsigned len) {
  if (auto c = Controller()) c->SaveDeviceHistory(*this, data, len);
}

void QorvVDevice::CheckThreshold(const std::string& name, const std::string& text,
                                 const float& value, int point) {
  if (auto c = Controller()) c->CheckThreshold(*this, name, text, value, point);
}

bool QorvVDevice::CheckAOReport(const std::string& name, float value) {
  auto c = Controller();
  return c && c->CheckAOReport(*this, name, value);
}

bool QorvVDevice::DoBatchCheckThreshold(const std::vector<rule_value>& rules) {
  auto c = Controller();
  return c && c->DoBatchCheckThreshold(*this, rules);
}

boost::posix_time::ptime QorvVDevice::LocalTime() const {
  if (auto c = Controller()) return c->LocalTime();
  return boost::posix_time::second_clock::local_time();
}
