#include "runner/recording/recording_controller.h"

#include <cstdio>
#include <sstream>
#include <stdexcept>

#include "host/qorv_spdevice.h"

namespace runner::recording {
namespace {

const char* KindName(HostCall::Kind kind) {
  switch (kind) {
    case HostCall::Kind::kSendData: return "SendData";
    case HostCall::Kind::kRefreshStatus: return "RefreshStatus";
    case HostCall::Kind::kReset: return "Reset";
    case HostCall::Kind::kGetSPValue: return "Get_SP_Value";
    case HostCall::Kind::kSendSP: return "SendSP";
    case HostCall::Kind::kSaveDeviceHistory: return "SaveDeviceHistory";
    case HostCall::Kind::kCheckThreshold: return "CheckThreshold";
    case HostCall::Kind::kCheckAOReport: return "CheckAOReport";
    case HostCall::Kind::kDoBatchCheckThreshold: return "DoBatchCheckThreshold";
  }
  return "?";
}

}  // namespace

std::string HostCall::ToString() const {
  std::ostringstream out;
  out << KindName(kind);
  switch (kind) {
    case Kind::kSendData: out << ' ' << Hex(bytes); break;
    case Kind::kRefreshStatus:
    case Kind::kReset: break;
    case Kind::kGetSPValue:
      out << ' ' << number << ' ' << name << " -> ";
      if (flag)
        out << "throws";
      else
        out << value;
      break;
    case Kind::kSendSP:
      out << ' ' << number << ' ' << bytes.size() << " bytes " << (flag ? "true" : "false");
      break;
    case Kind::kSaveDeviceHistory: out << ' ' << bytes.size() << " bytes"; break;
    case Kind::kCheckThreshold:
      out << ' ' << name << ' ' << text << ' ' << value << ' ' << number;
      break;
    case Kind::kCheckAOReport:
      out << ' ' << name << ' ' << value << " -> " << (flag ? "true" : "false");
      break;
    case Kind::kDoBatchCheckThreshold:
      out << ' ' << number << " rules -> " << (flag ? "true" : "false");
      break;
  }
  return out.str();
}

RecordingController::RecordingController()
    : now(boost::posix_time::ptime(boost::gregorian::date(2026, 12, 7),
                                   boost::posix_time::hours(12))) {}

void RecordingController::SetPeerValue(unsigned id, const std::string& name, float value) {
  peer_answers_[{id, name}] = PeerAnswer{false, value};
}

void RecordingController::SetPeerThrows(unsigned id, const std::string& name) {
  peer_answers_[{id, name}] = PeerAnswer{true, 0.0f};
}

void RecordingController::SetPeerDevice(unsigned id, const VDeviceInterface* device) {
  if (device)
    peer_devices_[id] = device;
  else
    peer_devices_.erase(id);
}

std::vector<HostCall> RecordingController::CallsOf(HostCall::Kind kind) const {
  std::vector<HostCall> out;
  for (const auto& call : calls)
    if (call.kind == kind) out.push_back(call);
  return out;
}

RecordingController::Lines RecordingController::Transcript() const {
  Lines lines;
  for (const auto& call : calls) lines.push_back(call.ToString());
  return lines;
}

RecordingController::Lines RecordingController::TranscriptOf(
    std::initializer_list<HostCall::Kind> kinds) const {
  Lines lines;
  for (const auto& call : calls)
    for (auto kind : kinds)
      if (call.kind == kind) lines.push_back(call.ToString());
  return lines;
}

RecordingController::Lines RecordingController::Frames() const {
  Lines lines;
  for (const auto& call : CallsOf(HostCall::Kind::kSendData)) lines.push_back(Hex(call.bytes));
  return lines;
}

int RecordingController::SendData(QorvSPDevice& device, const unsigned char* data, unsigned len) {
  HostCall call(HostCall::Kind::kSendData);
  call.device_id = device.DataId();
  call.bytes.assign(data, data + len);
  calls.push_back(std::move(call));
  return send_result == -2 ? static_cast<int>(len) : send_result;
}

void RecordingController::RefreshStatus(QorvSPDevice& device) {
  HostCall call(HostCall::Kind::kRefreshStatus);
  call.device_id = device.DataId();
  calls.push_back(std::move(call));
}

void RecordingController::Reset(QorvVDevice& device) {
  HostCall call(HostCall::Kind::kReset);
  call.device_id = device.DataId();
  calls.push_back(std::move(call));
}

float RecordingController::Get_SP_Value(unsigned data_id, const std::string& name) {
  HostCall call(HostCall::Kind::kGetSPValue);
  call.number = static_cast<int>(data_id);
  call.name = name;
  try {
    if (auto dev = peer_devices_.find(data_id); dev != peer_devices_.end()) {
      call.value = dev->second->Get_Value(0, name);
    } else if (auto it = peer_answers_.find({data_id, name});
               it != peer_answers_.end() && !it->second.throws) {
      call.value = it->second.value;
    } else {
      throw std::out_of_range("no value " + name + " for data id " + std::to_string(data_id));
    }
  } catch (const std::out_of_range&) {
    call.flag = true;
    calls.push_back(call);
    throw;
  }
  calls.push_back(call);
  return call.value;
}

void RecordingController::SendSP(QorvVDevice& device, int type_code, const unsigned char* data,
                                 unsigned len, bool flag) {
  HostCall call(HostCall::Kind::kSendSP);
  call.device_id = device.DataId();
  call.number = type_code;
  call.flag = flag;
  call.bytes.assign(data, data + len);
  calls.push_back(std::move(call));
}

void RecordingController::SaveDeviceHistory(QorvVDevice& device, const unsigned char* data,
                                            unsigned len) {
  HostCall call(HostCall::Kind::kSaveDeviceHistory);
  call.device_id = device.DataId();
  call.bytes.assign(data, data + len);
  calls.push_back(std::move(call));
}

void RecordingController::CheckThreshold(QorvVDevice& device, const std::string& name,
                                         const std::string& text, const float& value, int point) {
  HostCall call(HostCall::Kind::kCheckThreshold);
  call.device_id = device.DataId();
  call.name = name;
  call.text = text;
  call.value = value;
  call.number = point;
  calls.push_back(std::move(call));
}

bool RecordingController::CheckAOReport(QorvVDevice& device, const std::string& name, float value) {
  HostCall call(HostCall::Kind::kCheckAOReport);
  call.device_id = device.DataId();
  call.name = name;
  call.value = value;
  call.flag = ao_report_result;
  calls.push_back(std::move(call));
  return ao_report_result;
}

bool RecordingController::DoBatchCheckThreshold(QorvVDevice& device,
                                                const std::vector<rule_value>& rules) {
  HostCall call(HostCall::Kind::kDoBatchCheckThreshold);
  call.device_id = device.DataId();
  call.number = static_cast<int>(rules.size());
  call.flag = batch_result;
  calls.push_back(std::move(call));
  return batch_result;
}

std::string Hex(const unsigned char* data, unsigned len) {
  std::string out;
  char buf[4];
  for (unsigned i = 0; i < len; ++i) {
    std::snprintf(buf, sizeof buf, i ? " %02X" : "%02X", data[i]);
    out += buf;
  }
  return out;
}

std::string Hex(const std::vector<unsigned char>& bytes) {
  return Hex(bytes.data(), static_cast<unsigned>(bytes.size()));
}

std::vector<unsigned char> Bytes(const std::string& hex) {
  std::vector<unsigned char> out;
  std::istringstream in(hex);
  std::string byte;
  while (in >> byte) out.push_back(static_cast<unsigned char>(std::stoul(byte, nullptr, 16)));
  return out;
}

}  // namespace runner::recording
