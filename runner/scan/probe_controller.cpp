#include "runner/scan/probe_controller.h"

#include <stdexcept>

#include "host/device_contract.h"

namespace runner::scan {

void ProbeController::Clear() {
  requests_sent_ = 0;
  published_ = false;
}

int ProbeController::SendData(QorvSPDevice&, const unsigned char* data, unsigned len) {
  if (!line_error_.empty()) return -1;
  if (!port_.Write(data, len)) {
    line_error_ = port_.error();
    return -1;
  }
  ++requests_sent_;
  return static_cast<int>(len);
}

float ProbeController::Get_SP_Value(unsigned, const std::string&) {
  throw std::out_of_range(qorv::kNotSupportedText);
}

void ProbeController::SendSP(QorvVDevice&, int, const unsigned char*, unsigned, bool) {
  published_ = true;
}

}  // namespace runner::scan
