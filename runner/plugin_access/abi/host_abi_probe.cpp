// host-abi-probe: prints the binary facts halvex_30.so relies on in the host
// framework's classes, one per line, in a stable text form: type sizes,
// virtual slot indices (the Itanium pointer-to-member encoding), offsets and
// sizes of the protected members the plug-in reads or writes.
//
// It names only what the framework interface declares, so an integrator can
// build it against the vendor's own headers:
//
//   g++ -std=c++17 -I<vendor include dirs> -DHOST_ABI_PROBE_HEADERS='"vendor_device.h"'
//       host_abi_probe.cpp -o probe
//       -l<the vendor host library>
//   ./probe --compare host_abi.x86_64.txt     (or host_abi.mipsel.txt)
//
// Every line that differs from the committed output is a mismatch to settle
// before the plug-in is loaded.

#ifndef HOST_ABI_PROBE_HEADERS
#define HOST_ABI_PROBE_HEADERS "runner/plugin_access/abi/host_headers.h"
#endif
#include HOST_ABI_PROBE_HEADERS

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::ostringstream out;

void Line(const std::string& what, long long value) { out << what << ' ' << value << '\n'; }

// Itanium C++ ABI: a pointer to member function is {ptr, adj}. For a
// virtual function ptr holds 1 + the byte offset of its slot in the virtual
// table; on MIPS and ARM, where code addresses may be odd, ptr holds the
// offset itself and the low bit of adj marks it virtual. For a non-virtual
// function ptr is the function's address.
template <typename Pmf>
void Slot(const char* name, Pmf pmf) {
  static_assert(sizeof(Pmf) == 2 * sizeof(std::ptrdiff_t), "Itanium member function pointer");
  std::ptrdiff_t words[2];
  std::memcpy(words, &pmf, sizeof words);
#if defined(__mips__) || defined(__arm__)
  const bool is_virtual = (words[1] & 1) != 0;
  const std::ptrdiff_t slot_offset = words[0];
#else
  const bool is_virtual = (words[0] & 1) != 0;
  const std::ptrdiff_t slot_offset = words[0] - 1;
#endif
  if (!is_virtual) {
    out << "slot " << name << " not-virtual\n";
    return;
  }
  Line(std::string("slot ") + name, slot_offset / static_cast<long long>(sizeof(void*)));
}

// A pointer to data member holds the member's byte offset.
template <typename Pdm>
long long Offset(Pdm pdm) {
  std::ptrdiff_t offset;
  static_assert(sizeof(Pdm) == sizeof offset, "Itanium data member pointer");
  std::memcpy(&offset, &pdm, sizeof offset);
  return offset;
}

#define MEMBER(cls, member)                                                         \
  do {                                                                              \
    Line("offset " #cls "::" #member, Offset(&Probe::member));                      \
    Line("size " #cls "::" #member, static_cast<long long>(sizeof(Probe::member))); \
  } while (0)

// Derived classes may name the protected members of their bases.
struct InterfaceProbe : VDeviceInterface {
  using Probe = InterfaceProbe;
  static void Print() { MEMBER(VDeviceInterface, device_type_); }
};

struct VDeviceProbe : QorvVDevice {
  using Probe = VDeviceProbe;
  static void Print() {
    MEMBER(QorvVDevice, update_time_);
    MEMBER(QorvVDevice, data_ready_);
    MEMBER(QorvVDevice, data_changed_);
    MEMBER(QorvVDevice, device_state_);
    MEMBER(QorvVDevice, rule_values_);
    MEMBER(QorvVDevice, ao_names_);
    MEMBER(QorvVDevice, ao_values_);
    MEMBER(QorvVDevice, threshold_levels_);
    MEMBER(QorvVDevice, threshold_values_);
  }
};

struct SPDeviceProbe : QorvSPDevice {
  using Probe = SPDeviceProbe;
  static void Print() {
    MEMBER(QorvSPDevice, addr_);
    MEMBER(QorvSPDevice, msg_buf);
    MEMBER(QorvSPDevice, msg_len_);
    MEMBER(QorvSPDevice, baud_rate_);
  }
};

void PrintPlatform() {
  Line("size void*", sizeof(void*));
  Line("size long", sizeof(long));
  Line("size std::string", sizeof(std::string));
#ifdef _GLIBCXX_USE_CXX11_ABI
  Line("libstdc++ cxx11 string ABI", _GLIBCXX_USE_CXX11_ABI);
#endif
  Line("size boost::posix_time::ptime", sizeof(boost::posix_time::ptime));
  Line("size get_ttime result", sizeof(get_ttime(boost::posix_time::ptime())));
  Line("size rule_value", sizeof(rule_value));
}

void PrintClasses() {
  Line("size VDeviceInterface", sizeof(VDeviceInterface));
  Line("size QorvVDevice", sizeof(QorvVDevice));
  Line("size QorvSPDevice", sizeof(QorvSPDevice));
  Line("size Provider", sizeof(Provider));
  Line("size QorvSPDeviceProvider", sizeof(QorvSPDeviceProvider));
  // Where the shared-ownership base sits inside a device (computed on an
  // address, nothing is dereferenced).
  alignas(QorvVDevice) static unsigned char storage[sizeof(QorvVDevice)];
  auto* device = reinterpret_cast<QorvVDevice*>(storage);
  Line("offset QorvVDevice::enable_shared_from_this",
       reinterpret_cast<unsigned char*>(
           static_cast<std::enable_shared_from_this<QorvVDevice>*>(device)) -
           storage);
}

void PrintSlots() {
  Slot("VDeviceInterface::Get_Value", &VDeviceInterface::Get_Value);
  Slot("VDeviceInterface::LoadFromCache(text)",
       static_cast<bool (VDeviceInterface::*)(const std::string&)>(
           &VDeviceInterface::LoadFromCache));
  Slot("VDeviceInterface::LoadFromCache(bytes)",
       static_cast<bool (VDeviceInterface::*)(const unsigned char*, int)>(
           &VDeviceInterface::LoadFromCache));
  Slot("VDeviceInterface::DataId", &VDeviceInterface::DataId);
  Slot("VDeviceInterface::DeviceType", &VDeviceInterface::DeviceType);
  Slot("VDeviceInterface::DeviceIoControl", &VDeviceInterface::DeviceIoControl);
  Slot("VDeviceInterface::RoundDone", &VDeviceInterface::RoundDone);
  Slot("VDeviceInterface::UseControllerDb", &VDeviceInterface::UseControllerDb);
  // The two destructors of QorvVDevice sit in the two slots before Reset.
  Slot("QorvVDevice::Reset", &QorvVDevice::Reset);
  Slot("QorvVDevice::InitV", &QorvVDevice::InitV);
  Slot("QorvVDevice::Init", &QorvVDevice::Init);
  Slot("QorvVDevice::InitSetting", &QorvVDevice::InitSetting);
  Slot("QorvVDevice::IsSupportDevice", &QorvVDevice::IsSupportDevice);
  Slot("QorvVDevice::GetChildVDevice", &QorvVDevice::GetChildVDevice);
  Slot("QorvVDevice::GetAllChildVDevices", &QorvVDevice::GetAllChildVDevices);
  Slot("QorvVDevice::SendSP", &QorvVDevice::SendSP);
  Slot("QorvVDevice::SendDelayData", &QorvVDevice::SendDelayData);
  Slot("QorvVDevice::SendDoData", &QorvVDevice::SendDoData);
  Slot("QorvVDevice::ReadDi", &QorvVDevice::ReadDi);
  Slot("QorvVDevice::ReadAi", &QorvVDevice::ReadAi);
  Slot("QorvVDevice::Get_SP_Value", &QorvVDevice::Get_SP_Value);
  Slot("QorvVDevice::SaveDeviceHistory", &QorvVDevice::SaveDeviceHistory);
  Slot("QorvVDevice::CheckThreshold", &QorvVDevice::CheckThreshold);
  Slot("QorvVDevice::CheckAOReport", &QorvVDevice::CheckAOReport);
  Slot("QorvVDevice::DoBatchCheckThreshold", &QorvVDevice::DoBatchCheckThreshold);
  Slot("QorvSPDevice::Reset", &QorvSPDevice::Reset);
  Slot("QorvSPDevice::Init", &QorvSPDevice::Init);
  Slot("QorvSPDevice::RefreshStatus", &QorvSPDevice::RefreshStatus);
  Slot("QorvSPDevice::process", &QorvSPDevice::process);
  Slot("QorvSPDevice::IsProcessing", &QorvSPDevice::IsProcessing);
  Slot("QorvSPDevice::IsStalled", &QorvSPDevice::IsStalled);
  Slot("QorvSPDevice::SendData", &QorvSPDevice::SendData);
  Slot("QorvSPDevice::SendParityData", &QorvSPDevice::SendParityData);
  Slot("QorvSPDevice::OpenPort", &QorvSPDevice::OpenPort);
  Slot("QorvSPDevice::ClosePort", &QorvSPDevice::ClosePort);
  // Provider's two destructors come first; create follows them.
  Slot("QorvSPDeviceProvider::create", &QorvSPDeviceProvider::create);
}

std::vector<std::string> LinesOf(std::istream& in) {
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// Prints "- expected" / "+ probed" for every line that differs; 1 when any.
int Compare(const std::string& path, const std::string& probed) {
  std::ifstream file(path);
  if (!file) {
    std::cerr << "host-abi-probe: cannot read " << path << '\n';
    return 2;
  }
  std::istringstream got_text(probed);
  const std::vector<std::string> expected = LinesOf(file), got = LinesOf(got_text);
  int differences = 0;
  for (std::size_t i = 0; i < expected.size() || i < got.size(); ++i) {
    const std::string e = i < expected.size() ? expected[i] : "", g = i < got.size() ? got[i] : "";
    if (e == g) continue;
    ++differences;
    std::cout << path << ':' << i + 1 << ":\n- " << e << "\n+ " << g << '\n';
  }
  if (differences == 0)
    std::cout << "host-abi-probe: " << got.size() << " facts, all as in " << path << '\n';
  return differences == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string arg = argc > 1 ? argv[1] : "";
  if (arg == "--help" || arg == "-h" || (argc > 1 && arg != "--compare") ||
      (arg == "--compare" && argc != 3)) {
    std::cout << "usage: host-abi-probe [--compare FILE]\n"
                 "Prints the sizes, virtual slots and member offsets of the host framework's\n"
                 "device classes that halvex_30.so relies on. With --compare, prints every\n"
                 "line that differs from FILE and exits 1 when any does.\n";
    return arg == "--help" || arg == "-h" ? 0 : 2;
  }
  PrintPlatform();
  PrintClasses();
  PrintSlots();
  InterfaceProbe::Print();
  VDeviceProbe::Print();
  SPDeviceProbe::Print();
  if (arg == "--compare") return Compare(argv[2], out.str());
  std::cout << out.str();
  return 0;
}
