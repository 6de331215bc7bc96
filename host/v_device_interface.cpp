#include "host/v_device_interface.h"

#include <stdexcept>

float VDeviceInterface::Get_Value(unsigned, const std::string&) const {
  throw std::out_of_range("数据未就绪");
}

bool VDeviceInterface::LoadFromCache(const std::string& image) {
  return LoadFromCache(reinterpret_cast<const unsigned char*>(image.data()),
                       static_cast<int>(image.size()));
}

unsigned VDeviceInterface::DataId() { return data_id_; }
std::string VDeviceInterface::DeviceType() { return device_type_; }

int VDeviceInterface::DeviceIoControl(int, const void*, int, void*, int, int&) { return -2; }

void VDeviceInterface::RoundDone() {}
bool VDeviceInterface::UseControllerDb() { return false; }
