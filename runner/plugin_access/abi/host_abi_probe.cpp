// host-abi-probe: prints the binary facts halvex_30.so relies on in the host
// framework's classes, one per line, in a stable text form: type sizes,
// virtual slot indices (the Itanium pointer-to-member encoding), offsets and
// sizes of the protected members the plug-in reads or writes and of
// rule_value's fields, and the signature of every interface operation.
//
// Signatures and member types are checked when the probe compiles: a host
// whose Get_SP_Value returns double where the plug-in expects float would
// load and quietly compute wrong values, so it must not build.
//
// It names the host classes and operations as the framework interface does
// and every data member through host_abi_names.h, so an integrator builds it
// against the vendor's own headers (see docs/host-abi.md):
//
//   g++ -std=c++17 -I<vendor include dirs> -DHOST_ABI_PROBE_NAMES='"vendor_names.h"'
//       host_abi_probe.cpp -o probe -l<the vendor host library>
//   ./probe --compare host_abi.x86_64.txt     (or host_abi.mipsel.txt)
//
// Every line that differs from the committed output is a mismatch to settle
// before the plug-in is loaded.

#ifndef HOST_ABI_PROBE_NAMES
#define HOST_ABI_PROBE_NAMES "host_abi_names.h"
#endif
#include HOST_ABI_PROBE_NAMES

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <type_traits>
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

// Offset and size of a data member, reached through the host's spelling
// (host_abi_names.h) and printed under the plug-in's name for it. Its type
// must be the one the plug-in was built with: a float where it expects an
// int has the same size and offset but holds other values.
#define MEMBER(cls, label, member, ...)                                            \
  do {                                                                             \
    static_assert(std::is_same_v<decltype(Probe::member), __VA_ARGS__>,            \
                  #cls "::" #label " is not " #__VA_ARGS__);                       \
    Line("offset " #cls "::" #label, Offset(&Probe::member));                      \
    Line("size " #cls "::" #label, static_cast<long long>(sizeof(Probe::member))); \
  } while (0)

// Derived classes may name the protected members of their bases.
struct InterfaceProbe : VDeviceInterface {
  using Probe = InterfaceProbe;
  static void Print() { MEMBER(VDeviceInterface, device_type_, HOST_DEVICE_TYPE, std::string); }
};

struct VDeviceProbe : QorvVDevice {
  using Probe = VDeviceProbe;
  static void Print() {
    MEMBER(QorvVDevice, update_time_, HOST_UPDATE_TIME, boost::posix_time::ptime);
    MEMBER(QorvVDevice, data_ready_, HOST_DATA_READY, bool);
    MEMBER(QorvVDevice, data_changed_, HOST_DATA_CHANGED, bool);
    MEMBER(QorvVDevice, device_state_, HOST_DEVICE_STATE, std::int16_t);
    MEMBER(QorvVDevice, rule_values_, HOST_RULE_VALUES, std::vector<rule_value>);
    MEMBER(QorvVDevice, ao_names_, HOST_AO_NAMES, std::vector<std::string>);
    MEMBER(QorvVDevice, ao_values_, HOST_AO_VALUES, std::map<std::string, float>);
    MEMBER(QorvVDevice, threshold_levels_, HOST_THRESHOLD_LEVELS, std::map<std::string, int>);
    MEMBER(QorvVDevice, threshold_values_, HOST_THRESHOLD_VALUES, std::map<std::string, float>);
  }
};

struct SPDeviceProbe : QorvSPDevice {
  using Probe = SPDeviceProbe;
  static void Print() {
    MEMBER(QorvSPDevice, addr_, HOST_ADDR, unsigned char);
    MEMBER(QorvSPDevice, msg_buf, HOST_MSG_BUF, unsigned char[256]);
    MEMBER(QorvSPDevice, msg_len_, HOST_MSG_LEN, std::uint32_t);
    MEMBER(QorvSPDevice, baud_rate_, HOST_BAUD_RATE, std::int32_t);
  }
};

// The plug-in only counts the records and passes the batch on, but the host
// reads every field of what it passes.
struct RuleValueProbe {
  using Probe = rule_value;
  static void Print() {
    MEMBER(rule_value, name, HOST_RULE_NAME, std::string);
    MEMBER(rule_value, value, HOST_RULE_VALUE, float);
    MEMBER(rule_value, level, HOST_RULE_LEVEL, int);
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

void Signature(const std::string& name, std::string type) {
  while (!type.empty() && type.back() == ' ') type.pop_back();  // no qualifier
  out << "signature " << name << ' ' << type << '\n';
}

// The full type of an operation, result and const-ness included, as a
// pointer to member of the class that must declare it. A host that declares
// it otherwise fails to build the probe with a message naming the operation.
#define SIGNATURE(cls, fn, result, params, ...)                                              \
  static_assert(std::is_same_v<decltype(&cls::fn), result(cls::*) params __VA_ARGS__>,       \
                #cls "::" #fn " is not declared " #result " " #fn #params " " #__VA_ARGS__); \
  Signature(#cls "::" #fn, #result " " #params " " #__VA_ARGS__)

// An overloaded operation has no single address: the cast picks the overload
// of exactly this type, and fails to compile, naming the operation, when
// there is none.
#define OVERLOAD(cls, fn, label, result, params, ...)                          \
  static_cast<void>(static_cast<result(cls::*) params __VA_ARGS__>(&cls::fn)); \
  Signature(#cls "::" #fn "(" #label ")", #result " " #params " " #__VA_ARGS__)

void PrintSignatures() {
  SIGNATURE(VDeviceInterface, Get_Value, float, (unsigned, const std::string&), const);
  OVERLOAD(VDeviceInterface, LoadFromCache, text, bool, (const std::string&));
  OVERLOAD(VDeviceInterface, LoadFromCache, bytes, bool, (const unsigned char*, int));
  SIGNATURE(VDeviceInterface, DataId, unsigned, ());
  SIGNATURE(VDeviceInterface, DeviceType, std::string, ());
  SIGNATURE(VDeviceInterface, DeviceIoControl, int, (int, const void*, int, void*, int, int&));
  SIGNATURE(VDeviceInterface, RoundDone, void, ());
  SIGNATURE(VDeviceInterface, UseControllerDb, bool, ());
  SIGNATURE(QorvVDevice, Reset, void, ());
  SIGNATURE(QorvVDevice, InitV, int, ());
  SIGNATURE(QorvVDevice, Init, int, (std::weak_ptr<QorvController>, unsigned, const Json::Value&));
  SIGNATURE(QorvVDevice, InitSetting, int, (const Json::Value&));
  SIGNATURE(QorvVDevice, IsSupportDevice, bool, (const std::string&), const);
  SIGNATURE(QorvVDevice, GetChildVDevice, std::shared_ptr<QorvVDevice>, (unsigned), const);
  SIGNATURE(QorvVDevice, GetAllChildVDevices, std::vector<std::shared_ptr<QorvVDevice>>, (), const);
  SIGNATURE(QorvVDevice, SendSP, void, (int, const unsigned char*, unsigned, bool));
  SIGNATURE(QorvVDevice, SendDelayData, int, (const unsigned char*, unsigned, int));
  SIGNATURE(QorvVDevice, SendDoData, int, (unsigned, int));
  SIGNATURE(QorvVDevice, ReadDi, int, (unsigned));
  SIGNATURE(QorvVDevice, ReadAi, float, (unsigned));
  SIGNATURE(QorvVDevice, Get_SP_Value, float, (unsigned, const std::string&));
  SIGNATURE(QorvVDevice, SaveDeviceHistory, void, (const unsigned char*, unsigned));
  SIGNATURE(QorvVDevice, CheckThreshold, void,
            (const std::string&, const std::string&, const float&, int));
  SIGNATURE(QorvVDevice, CheckAOReport, bool, (const std::string&, float));
  SIGNATURE(QorvVDevice, DoBatchCheckThreshold, bool, (const std::vector<rule_value>&));
  SIGNATURE(QorvSPDevice, Reset, void, ());
  SIGNATURE(QorvSPDevice, Init, int, (std::weak_ptr<QorvController>, unsigned, const Json::Value&));
  SIGNATURE(QorvSPDevice, RefreshStatus, int, ());
  SIGNATURE(QorvSPDevice, process, int, (unsigned char*, unsigned));
  SIGNATURE(QorvSPDevice, IsProcessing, bool, (), const);
  SIGNATURE(QorvSPDevice, IsStalled, bool, (), const);
  SIGNATURE(QorvSPDevice, SendData, int, (const unsigned char*, unsigned));
  SIGNATURE(QorvSPDevice, SendParityData, int, (const unsigned char*, unsigned));
  SIGNATURE(QorvSPDevice, OpenPort, int, ());
  SIGNATURE(QorvSPDevice, ClosePort, int, ());
  SIGNATURE(QorvSPDeviceProvider, create, QorvSPDevice*, (), const);
  // Devices are destroyed through QorvVDevice, providers through Provider.
  static_assert(std::has_virtual_destructor_v<QorvVDevice>, "~QorvVDevice is not virtual");
  static_assert(std::has_virtual_destructor_v<Provider>, "~Provider is not virtual");
  // The stamp's name is the host's own (not part of any imported symbol);
  // the plug-in copies its bytes into the record.
  using Stamp = decltype(get_ttime(boost::posix_time::ptime()));
  static_assert(std::is_same_v<decltype(&get_ttime), Stamp (*)(boost::posix_time::ptime)>,
                "get_ttime does not take a boost::posix_time::ptime by value");
  static_assert(std::is_trivially_copyable_v<Stamp>, "get_ttime's stamp is not plain bytes");
  Signature("get_ttime", "stamp (boost::posix_time::ptime)");
}

std::vector<std::string> LinesOf(std::istream& in) {
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// Prints "- expected" / "+ probed" for every line that differs; 1 when any.
int Compare(const std::string& path, const std::string& probed) {
  // The committed output is about 6 KiB; anything far larger is not one.
  constexpr std::uintmax_t kMaxBytes = 64 * 1024;
  std::error_code error;
  const bool regular = std::filesystem::is_regular_file(path, error);
  const std::uintmax_t bytes = regular ? std::filesystem::file_size(path, error) : 0;
  std::ifstream file(path);
  if (!regular || error || bytes > kMaxBytes || !file) {
    std::cerr << "host-abi-probe: cannot read " << path << " as a probe output (a regular file of"
              << " at most " << kMaxBytes << " bytes)\n";
    return 2;
  }
  std::istringstream got_text(probed);
  const std::vector<std::string> expected = LinesOf(file), got = LinesOf(got_text);
  int differences = 0;
  for (std::size_t i = 0; i < expected.size() || i < got.size(); ++i) {
    const std::string e = i < expected.size() ? expected[i] : "(no such line)",
                      g = i < got.size() ? got[i] : "(no such line)";
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
                 "device classes that halvex_30.so relies on, the fields of rule_value and the\n"
                 "signature of every interface operation (checked when it compiles). With\n"
                 "--compare, prints every line that differs from FILE and exits 1 when any\n"
                 "does; 2 when FILE cannot be read.\n";
    return arg == "--help" || arg == "-h" ? 0 : 2;
  }
  PrintPlatform();
  PrintClasses();
  PrintSlots();
  InterfaceProbe::Print();
  VDeviceProbe::Print();
  SPDeviceProbe::Print();
  RuleValueProbe::Print();
  PrintSignatures();
  if (arg == "--compare") return Compare(argv[2], out.str());
  std::cout << out.str();
  return 0;
}
