#include "agreement_rig.h"

#include <algorithm>
#include <cstring>
#include <iostream>
#include <streambuf>

#include "runner/recording/output_capture.h"

namespace sim::agreement {
namespace {

using runner::recording::HostCall;

// Counts a unit on the wire, the way monitor and device agree on them.
constexpr float kCountsPerVolt12 = 100.0f;
constexpr float kCountsPerVolt6 = 1000.0f;
constexpr float kCountsPerDeciVolt = 10.0f;
constexpr float kCountsPerCentiVolt = 100.0f;
constexpr float kPlainCountsPerAmp = 10.0f;
constexpr float kCountsPerDegree = 100.0f;
// A string voltage below this is a monitor without its own string input.
constexpr float kMeasuredStringFloor = 40.0f;
constexpr float kHottestPlausible = 100.0f;

constexpr uint8_t kFirstCommand = static_cast<uint8_t>(Command::kCellVoltages);
constexpr size_t kCommandByte = 3;  // of a request

// 2500 counts are 0 A, 25 counts an ampere; divided step by step as the
// device does, so the float rounding is the same.
float SensorAmps(uint16_t counts) {
  return ((static_cast<float>(counts) / 10.0f) / 125.0f - 2.0f) * 50.0f;
}

// Index 0..3 of a command byte A1..A4, or -1.
int CommandIndex(uint8_t code) { return IsKnownCommand(code) ? code - kFirstCommand : -1; }

}  // namespace

bool Values::operator==(const Values& other) const {
  return cells == other.cells && group == other.group && current == other.current &&
         temperature == other.temperature;
}

Values DecodedOf(const Battery32_Data_t& record) {
  Values values;
  for (int i = 0; i < kStringCells; ++i) values.cells[i] = record.battery_value[i];
  values.group = record.group_voltage;
  values.current = record.group_current;
  values.temperature = halvex::RecordTemperature(record);
  return values;
}

Values Expected(const Readings& sent, const MonitorProfile& profile, float previous_temperature) {
  Values values;
  const CellWindow window = WindowOf(profile.cell_type);
  const float cell_divisor =
      profile.cell_type == CellType::kSixVolt ? kCountsPerVolt6 : kCountsPerVolt12;
  float sum = 0.0f;
  for (int i = 0; i < kStringCells; ++i) {
    const float volts = static_cast<float>(sent.cells[i]) / cell_divisor;
    values.cells[i] = volts < window.low || volts > window.high ? 0.0f : volts;
    sum = sum + values.cells[i];
  }
  const float group_divisor =
      profile.group_scale == GroupScale::kCentiVolt ? kCountsPerCentiVolt : kCountsPerDeciVolt;
  values.group = static_cast<float>(sent.group) / group_divisor;
  if (values.group < kMeasuredStringFloor) values.group = sum;
  values.current = profile.current_encoding == CurrentEncoding::kSensor
                       ? SensorAmps(sent.current)
                       : static_cast<float>(sent.current) / kPlainCountsPerAmp;
  const float celsius = static_cast<float>(sent.temperature) / kCountsPerDegree;
  values.temperature =
      celsius > 0.0f && celsius <= kHottestPlausible ? celsius : previous_temperature;
  return values;
}

double UndetectedChance(const Bytes& clean_reply) {
  if (clean_reply.size() < kScalarReplyLength) return 0.0;
  // The checksum covers everything between the start byte and itself.
  unsigned sum = 0;
  for (size_t i = 1; i + 1 < clean_reply.size(); ++i) sum += clean_reply[i];
  sum &= 0xFF;
  const bool aliased = sum <= 1 || sum >= kChecksumModulus;
  if (!aliased) return 0.0;
  // Start byte, address and checksum are judged on their own; only a payload
  // byte can move by 2 unnoticed, and one of its 255 new values does that.
  const double payload_share =
      static_cast<double>(clean_reply.size() - 3) / static_cast<double>(clean_reply.size());
  return payload_share / 255.0;
}

void Configure(Halvex30& device,
               const std::shared_ptr<runner::recording::RecordingController>& host,
               const Json::Value& app_setting, unsigned data_id) {
  runner::recording::QuietCout quiet;
  Json::Value host_setting;
  host_setting["address"] = 1;
  device.Init(host, data_id, host_setting);
  Json::Value config;
  config["appSetting"] = app_setting;
  device.InitSetting(config);
}

AgreementRig::AgreementRig(RigSetup setup)
    : setup_(std::move(setup)), bus_(BusOptions{setup_.seed, /*pace=*/true}, clock_) {
  bus_.AddMonitor(setup_.monitor.profile, setup_.monitor.faults);
  bus_.SetListener([this](const Exchange& exchange) { Heard(exchange); });
  host_epoch_ = host_->now;
  Configure(device_, host_, setup_.app_setting);
  host_->Clear();
}

void AgreementRig::RunRounds(uint64_t rounds) {
  const uint64_t last = tally_.rounds_started + rounds;
  if (held_ && rounds > 0) {
    held_ = false;
    ++tally_.ticks;
    ++tally_.rounds_started;
    Pump();
  }
  while (!held_) {
    Tick();
    if (tally_.rounds_started > last) {
      // Begun on the device, but not on the line and not counted yet.
      held_ = true;
      --tally_.ticks;
      --tally_.rounds_started;
      return;
    }
    Pump();
  }
}

void AgreementRig::Tick() {
  clock_->Set(std::max(clock_->Now(), next_tick_));
  next_tick_ = clock_->Now() + setup_.poll_period;
  SyncHostClock();
  const uint64_t started = tally_.rounds_started;
  {
    runner::recording::QuietCout quiet;
    device_.RefreshStatus();
  }
  Collect();
  ++tally_.ticks;
  if (tally_.rounds_started == started) ++tally_.resends;
  awaiting_ = true;
}

void AgreementRig::Pump() {
  while (!outbox_.empty()) {
    const Bytes request = std::move(outbox_.front());
    outbox_.pop_front();
    if (request.size() > kCommandByte) last_command_ = request[kCommandByte];
    clock_->Advance(kByteTime * static_cast<long>(request.size()));
    for (const Chunk& chunk : bus_.Feed(request)) Deliver(chunk);
  }
}

void AgreementRig::Deliver(const Chunk& chunk) {
  clock_->Advance(chunk.Duration());
  SyncHostClock();
  Bytes bytes = chunk.bytes;
  published_ = false;
  const size_t queued = outbox_.size();
  int more;
  {
    runner::recording::QuietCout quiet;
    more = device_.process(bytes.data(), static_cast<unsigned>(bytes.size()));
  }
  Collect();
  // Taking a reply means asking the next question, or ending the round.
  const bool taken =
      published_ || (outbox_.size() > queued && outbox_.back()[kCommandByte] != last_command_);
  if (taken && reply_corrupted_) ++tally_.corrupted_taken;
  if (awaiting_ && more == 0 && !published_) {
    ++(last_command_ == kFirstCommand ? tally_.refused_cell : tally_.refused_scalar);
  }
  awaiting_ = more == 1;
}

void AgreementRig::Collect() {
  for (const HostCall& call : host_->calls) {
    switch (call.kind) {
      case HostCall::Kind::kRefreshStatus:
        ++tally_.rounds_started;
        asked_ = {};
        break;
      case HostCall::Kind::kSendData: outbox_.push_back(call.bytes); break;
      case HostCall::Kind::kSendSP: Publish(call); break;
      default: break;
    }
  }
  host_->Clear();
}

void AgreementRig::Publish(const HostCall& call) {
  published_ = true;
  PublishedRound round;
  std::memcpy(&round.record, call.bytes.data(), std::min(call.bytes.size(), sizeof round.record));
  std::array<Readings, 4> at;
  for (size_t i = 0; i < asked_.size(); ++i) {
    round.asked_at[i] = asked_[i].at;
    round.corrupted = round.corrupted || asked_[i].corrupted;
    at[i] = monitor().ReadingsAt(asked_[i].at);
  }
  round.sent.cells = at[0].cells;
  round.sent.group = at[1].group;
  round.sent.current = at[2].current;
  round.sent.temperature = at[3].temperature;
  const float previous = rounds_.empty() ? 0.0f : DecodedOf(rounds_.back().record).temperature;
  round.expected = Expected(round.sent, setup_.monitor.profile, previous);
  ++tally_.rounds_completed;
  if (round.corrupted) ++tally_.corrupted_accepted;
  if (DecodedOf(round.record) != round.expected) ++tally_.differing;
  rounds_.push_back(std::move(round));
}

void AgreementRig::Heard(const Exchange& exchange) {
  if (exchange.outcome != Exchange::Outcome::kAnswered) return;
  const int index = CommandIndex(exchange.request.at(kCommandByte));
  if (index < 0) return;
  const bool corrupted = std::find(exchange.faults.begin(), exchange.faults.end(),
                                   Fault::kCorrupt) != exchange.faults.end();
  asked_[static_cast<size_t>(index)] = Asked{exchange.at, corrupted};
  reply_corrupted_ = corrupted;
  if (corrupted) {
    const auto command = static_cast<Command>(exchange.request[kCommandByte]);
    tally_.expected_undetected += UndetectedChance(monitor().Answer(command, exchange.at));
  }
}

void AgreementRig::SyncHostClock() {
  host_->now = host_epoch_ + boost::posix_time::microseconds(clock_->Now().count());
}

}  // namespace sim::agreement
