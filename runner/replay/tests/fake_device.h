#pragma once
// A small serial device for testing the replay machinery without the
// plug-in: each operation does one recognisable thing (a frame, a stdout
// line, a record, a throw) so a test can check where the transcript puts it.

#include <cstdint>
#include <cstring>
#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/qorv_spdevice.h"

namespace runner::replay::testing {

class FakeDevice : public QorvSPDevice {
 public:
  // `state` > 0 makes a device whose data state is set from the start.
  explicit FakeDevice(std::int16_t state = 0) {
    device_type_ = "fake";
    baud_rate_ = 19200;
    data_ready_ = state > 0;
    device_state_ = state;
  }
  ~FakeDevice() override { std::cout << "fake " << data_id_ << " gone" << std::endl; }

  int InitSetting(const Json::Value& setting) override {
    peer_ = setting.get("peer", 0).asUInt();
    addr_ = static_cast<unsigned char>(addr_ + 0x80);
    return 1;
  }

  // Line, frame, line: the frame must sit between the two lines.
  int RefreshStatus() override {
    std::cout << "before send" << std::endl;
    const unsigned char frame[] = {0xFE, 0xFE, addr_, 0xA1};
    SendData(frame, sizeof frame);
    std::cout << "after send" << std::endl;
    return 1;
  }

  // EE: throws. Otherwise asks its peer (if any), publishes a record whose
  // first cell is the first byte received, and leaves a line unfinished.
  int process(unsigned char* data, unsigned len) override {
    if (len > 0 && data[0] == 0xEE) throw std::runtime_error("bad byte");
    if (peer_ != 0) {
      try {
        value_ += Get_SP_Value(peer_, "v");
      } catch (const std::out_of_range&) {
        std::cout << "peer missing" << std::endl;
      }
    }
    std::vector<unsigned char> record(152, 0);
    std::memcpy(record.data(), &data_id_, 4);
    const float cell = data[0];
    std::memcpy(record.data() + 4, &cell, 4);
    SendSP(5013, record.data(), static_cast<unsigned>(record.size()), false);
    SaveDeviceHistory(record.data(), static_cast<unsigned>(record.size()));
    std::cout << "partial";
    return static_cast<int>(len);
  }

  float Get_Value(unsigned, const std::string& name) const override {
    if (name != "v") throw std::out_of_range("不支持变量");
    return value_;
  }

  bool LoadFromCache(const unsigned char* image, int len) override {
    if (len != 152) return false;
    std::memcpy(&value_, image + 4, 4);
    return true;
  }

  // Code 1 sets the data state members from the input (ready, changed,
  // state) and says so on stdout.
  int DeviceIoControl(int code, const void* in, int in_len, void*, int, int& out_size) override {
    if (code == 1 && in_len >= 3) {
      const auto* b = static_cast<const unsigned char*>(in);
      data_ready_ = b[0] != 0;
      data_changed_ = b[1] != 0;
      device_state_ = static_cast<std::int16_t>(b[2]);
      std::cout << "members set" << std::endl;
    }
    out_size = in_len;
    return code;
  }

 private:
  unsigned peer_ = 0;
  float value_ = 1.5f;
};

}  // namespace runner::replay::testing
