#include "host/qorv_controller.h"

#include <boost/date_time/posix_time/posix_time_types.hpp>

QorvController::~QorvController() = default;

boost::posix_time::ptime QorvController::LocalTime() {
  return boost::posix_time::second_clock::local_time();
}

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
