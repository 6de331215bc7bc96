// Site files a person gets wrong, and the cells a configuration puts in use.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "fault_fixture.h"
#include "runner/alarm_book.h"
#include "runner/device_slot.h"
#include "runner/site.h"

namespace runner {
namespace {

std::string SiteWith(const std::string& port_name, const std::string& device_name,
                     const std::string& limit_name, const std::string& path = "ttyUSB0") {
  return R"({"ports": [{"name": ")" + port_name + R"(", "path": ")" + path +
         R"("}], "devices": [{"name": ")" + device_name +
         R"(", "data_id": 1, "address": 1, "port": "p", "limits": [{"name": ")" + limit_name +
         R"(", "high": 40}]}]})";
}

TEST(SiteFaultTest, FilesThatCannotBeASiteAreRefusedNamingTheFileAndWhy) {
  const std::string dir = faults::ScratchDir();
  const std::string good = SiteWith("p", "A", "temperature");
  faults::WriteText(dir + "/deep.json", std::string(5000, '[') + std::string(5000, ']'));
  faults::WriteText(dir + "/big.json", good + std::string(2 << 20, ' '));
  faults::WriteText(dir + "/control.json", SiteWith("p", "A\\u001b[2J", "temperature"));
  faults::WriteText(dir + "/latin1.json", SiteWith("p\xe9", "A", "temperature"));
  faults::WriteText(dir + "/typo.json", SiteWith("p", "A", "tempreature"));
  faults::WriteText(dir + "/pattern.json", SiteWith("p", "A", "cell_*"));
  faults::WriteText(dir + "/unreadable.json", good);
  ::chmod((dir + "/unreadable.json").c_str(), 0);
  ASSERT_EQ(::mkfifo((dir + "/fifo.json").c_str(), 0644), 0);
  ASSERT_EQ(::symlink("loop.json", (dir + "/loop.json").c_str()), 0);
  struct Case {
    std::string file;
    std::string message;
  } cases[] = {
      {"deep.json", "(syntax): nested deeper than 64 levels"},
      {"big.json", "(file): is 2097" /* bytes; at most 1 MiB */},
      {"fifo.json", "(file): is not a regular file"},
      {"/dev/zero", "(file): is not a regular file"},
      {"missing.json", "(file): cannot be read: No such file or directory"},
      {"loop.json", "(file): cannot be read: Too many levels of symbolic links"},
      {"control.json", "devices[0].name: must be printable UTF-8 text (no control characters), "
                       "got \"A\\x1B[2J\""},
      {"latin1.json", "ports[0].name: must be printable UTF-8 text (no control characters), "
                      "got \"p\\xE9\""},
      {"typo.json", "devices[0].limits[0].name: is no value a device answers: \"tempreature\""},
      {"pattern.json", "devices[0].limits[0].name: matches no value a device answers"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const std::string path = c.file[0] == '/' ? c.file : dir + "/" + c.file;
    try {
      LoadSiteFile(path);
      ADD_FAILURE() << "accepted";
    } catch (const SiteError& e) {
      EXPECT_EQ(std::string(e.what()).rfind(path + ": ", 0), 0u) << e.what();
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
    }
  }
  if (::geteuid() != 0) {  // root reads whatever the mode says
    try {
      LoadSiteFile(dir + "/unreadable.json");
      ADD_FAILURE() << "accepted an unreadable file";
    } catch (const SiteError& e) {
      EXPECT_NE(std::string(e.what()).find("Permission denied"), std::string::npos) << e.what();
    }
  }
}

TEST(SiteFaultTest, PortPathsAreTakenFromTheSiteFilesFolder) {
  const std::string dir = faults::ScratchDir();
  faults::WriteText(dir + "/site.json", SiteWith("p", "A", "battery_*_value", "ttyUSB0"));
  EXPECT_EQ(LoadSiteFile(dir + "/site.json").ports[0].path, dir + "/ttyUSB0");
  faults::WriteText(dir + "/abs.json", SiteWith("p", "A", "battery_29_value", "/dev/ttyS1"));
  EXPECT_EQ(LoadSiteFile(dir + "/abs.json").ports[0].path, "/dev/ttyS1");
}

TEST(ConfiguredCellsTest, TheCellsAConfigurationPutsInUse) {
  struct Case {
    const char* name;
    const char* app_setting;
    std::vector<int> cells;
  } cases[] = {
      {"nothing configured: every cell", "{}", {0, 1, 2, 3}},
      {"a group of two", R"({"group_index": "1", "amount": "2"})", {0, 1}},
      {"second group, same indices", R"({"group_index": 2, "amount": 3})", {0, 1, 2}},
      {"an unknown group is ignored", R"({"group_index": 3, "amount": 2})", {0, 1, 2, 3}},
      {"amount beyond the cells", R"({"group_index": 1, "amount": 99})", {0, 1, 2, 3}},
      {"listed cells, repeats and strays dropped",
       R"({"active_batteries": [3, "1", 3, -1, 4]})", {1, 3}},
      {"group plus list", R"({"group_index": 1, "amount": 1, "active_batteries": [2]})", {0, 2}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Json::Value config(Json::objectValue);
    config["appSetting"] = ParseSiteJson(c.app_setting, "test");
    EXPECT_EQ(ConfiguredCells(config, 4), c.cells);
  }
}

TEST(AlarmBookFaultTest, WildcardLimitsLeaveUnconfiguredSlotsAloneAndAlarmsSortByCell) {
  AlarmBook book(LimitTable({{"battery_*_value", 12.0f, 14.4f, 0.1f}, {"battery_27_value", 12.0f, {}, 0.0f}}));
  book.SetCells({0, 1, 2, 10});
  for (int k : {10, 2, 25, 27, 1})
    book.Check("battery_" + std::to_string(k) + "_value", "", 0.0f, k + 1);
  std::vector<std::string> names;
  for (const ActiveAlarm& a : book.Active()) names.push_back(a.name);
  EXPECT_EQ(names, (std::vector<std::string>{"battery_1_value", "battery_2_value",
                                             "battery_10_value", "battery_27_value"}))
      << "slot 25 is empty; slot 27 has a limit of its own";
}

}  // namespace
}  // namespace runner
