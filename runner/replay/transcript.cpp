#include "runner/replay/transcript.h"

#include "runner/replay/record_text.h"

namespace runner::replay {
namespace {

using recording::HostCall;

constexpr const char* kEventIndent = "  ";
constexpr const char* kBytesIndent = "    hex ";

bool CarriesRecord(HostCall::Kind kind) {
  return kind == HostCall::Kind::kSendSP || kind == HostCall::Kind::kSaveDeviceHistory;
}

}  // namespace

Transcript::Transcript(std::ostream& out, const recording::RecordingController& host, bool hex)
    : out_(out), host_(host), hex_(hex), first_call_(host.calls.size()) {}

void Transcript::Begin() {
  first_call_ = host_.calls.size();
  stdout_.clear();
}

void Transcript::StdoutLine(const std::string& line) {
  stdout_.push_back({host_.calls.size(), line});
}

void Transcript::End(const std::string& action_line, const std::string& unfinished, bool quiet) {
  const std::size_t last_call = host_.calls.size();
  if (quiet && last_call == first_call_ && stdout_.empty() && unfinished.empty()) return;
  out_ << action_line << '\n';
  std::size_t next_line = 0;
  for (std::size_t i = first_call_; i < last_call; ++i) {
    for (; next_line < stdout_.size() && stdout_[next_line].after_calls <= i; ++next_line)
      WriteEvent("stdout: " + stdout_[next_line].text);
    WriteCall(host_.calls[i]);
  }
  for (; next_line < stdout_.size(); ++next_line) WriteEvent("stdout: " + stdout_[next_line].text);
  if (!unfinished.empty()) WriteEvent("stdout (no line end): " + unfinished);
  out_.flush();
  Begin();
}

void Transcript::Note(const std::string& line) {
  out_ << line << '\n';
  out_.flush();
}

void Transcript::Event(const std::string& text) {
  WriteEvent(text);
  out_.flush();
}

std::string Transcript::CallText(const HostCall& call) const {
  if (call.kind == HostCall::Kind::kSendData) return "> " + call.ToString();
  if (!CarriesRecord(call.kind)) return call.ToString();
  const auto record = runner::DecodeRecord(call.bytes);
  return record ? call.ToString() + " " + RecordText(*record) : call.ToString();
}

void Transcript::WriteEvent(const std::string& text) { out_ << kEventIndent << text << '\n'; }

void Transcript::WriteCall(const HostCall& call) {
  WriteEvent(CallText(call));
  if (hex_ && CarriesRecord(call.kind)) out_ << kBytesIndent << recording::Hex(call.bytes) << '\n';
}

}  // namespace runner::replay
