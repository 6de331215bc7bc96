#pragma once
// Runs a scenario: the host's actions, in order, against devices made by a
// factory (the plug-in's provider, or a test's device), with a
// RecordingController as their host, writing the transcript as it goes.
//
// The host starts at 2026-12-07 12:00:00 and its clock moves only when the
// scenario moves it, so a transcript depends on nothing but the scenario and
// the device.

#include <cstdint>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "host/qorv_spdevice.h"
#include "runner/recording/output_capture.h"
#include "runner/recording/recording_controller.h"
#include "runner/replay/scenario.h"
#include "runner/replay/transcript.h"

namespace runner::replay {

using DeviceFactory = std::function<std::unique_ptr<QorvSPDevice>()>;

class Replayer {
 public:
  // `hex` adds the bytes of received chunks and of records to the transcript.
  Replayer(DeviceFactory make_device, std::ostream& out, bool hex);
  // Destroys the devices still alive (without writing).
  ~Replayer();
  Replayer(const Replayer&) = delete;
  Replayer& operator=(const Replayer&) = delete;

  // Runs `actions`, then destroys the devices still alive. Throws
  // ScenarioError, naming `file_name` and the line, for an action that
  // cannot run: no device to act on, an unknown or taken device name, a data
  // id taken twice, a cache from a record that does not exist yet.
  // Exceptions of the device are not errors: they go into the transcript.
  void Run(const std::vector<Action>& actions, const std::string& file_name);

  const recording::RecordingController& Host() const { return *host_; }

 private:
  struct Device {
    std::string name;  // "" for the one unnamed device
    std::uint32_t id = 0;
    std::unique_ptr<QorvSPDevice> object;
  };

  void Do(const Action& a);
  void Create(const Action& a);
  void Use(const Action& a);
  void Destroy(const Action& a);
  void Configure(const Action& a);
  void Tick(const Action& a);
  void Receive(const Action& a);
  void Query(const Action& a);
  void IoControl(const Action& a);
  void Cache(const std::string& what, const Bytes& image);
  void CacheFromLastRecord();
  void Peer(const Action& a);
  void Clock(const Action& a);
  void DestroyAll();

  // Calls into device `d` with std::cout captured, then writes
  // "<what> -> <result>" and what the device did meanwhile. `call` returns
  // the result text; an exception it lets out becomes the result. When the
  // call changed the device's data state members, a `members` line follows.
  void Step(const Device& d, const std::string& what, const std::function<std::string()>& call);
  Device& Current();
  Device* Find(const std::string& name);
  Device* FindId(std::uint32_t id);
  std::string Prefix(const Device& d) const;

  DeviceFactory make_device_;
  std::ostream out_;  // on the caller's stream buffer, taken before std::cout is captured
  bool hex_;
  std::shared_ptr<recording::RecordingController> host_;
  Transcript transcript_;
  recording::LineCapture capture_;
  std::vector<std::unique_ptr<Device>> devices_;  // in creation order
  Device* current_ = nullptr;
};

}  // namespace runner::replay
