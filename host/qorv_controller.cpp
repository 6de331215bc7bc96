#include "host/qorv_controller.h"

QorvController::~QorvController() = default;

void QorvController::RefreshStatus(QorvSPDevice&) {}
void QorvController::Reset(QorvVDevice&) {}
void QorvController::SendSP(QorvVDevice&, int, const unsigned char*, unsigned, bool) {}
void QorvController::SaveDeviceHistory(QorvVDevice&, const unsigned char*, unsigned) {}
void QorvController::CheckThreshold(QorvVDevice&, const std::string&, const std::string&,
                                    const float&, int) {}
bool QorvController::CheckAOReport(QorvVDevice&, const std::string&, float) { return false; }
bool QorvController::DoBatchCheckThreshold(QorvVDevice&, const std::vector<rule_value>&) {
  return false;
}
