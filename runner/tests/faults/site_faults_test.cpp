// Site files a person gets wrong.
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "fault_fixture.h"
#include "runner/site/site.h"
#include "tests/support/test_folder.h"

namespace runner {
namespace {

std::string SiteWith(const std::string& port, const std::string& device, const std::string& limit) {
  return R"({"ports": [{"name": ")" + port + R"(", "path": "ttyUSB0"}], "devices": [{"name": ")" +
         device + R"(", "data_id": 1, "address": 1, "port": "p", "limits": [{"name": ")" + limit +
         R"(", "high": 40}]}]})";
}

TEST(SiteFaultTest, FilesThatCannotBeASiteAreRefusedNamingTheFileAndWhy) {
  halvex::testing::TestFolder folder;
  const std::string dir = folder.path();
  const std::string good = SiteWith("p", "A", "temperature");
  const struct {
    std::string file, text, message;
  } cases[] = {
      {"deep.json", std::string(5000, '[') + std::string(5000, ']'),
       "(syntax): nested deeper than 64 levels"},
      {"big.json", good + std::string(2 << 20, ' '), "(file): is 2097"},
      {"fifo.json", "", "(file): is not a regular file"},
      {"/dev/zero", "", "(file): is not a regular file"},
      {"missing.json", "", "(file): cannot be read: No such file or directory"},
      {"control.json", SiteWith("p", "A\\u001b[2J", "temperature"),
       "devices[0].name: must be printable UTF-8 text (no control characters), got \"A\\x1B[2J\""},
      {"latin1.json", SiteWith("p\xe9", "A", "temperature"),
       "ports[0].name: must be printable UTF-8 text (no control characters), got \"p\\xE9\""},
      {"typo.json", SiteWith("p", "A", "tempreature"),
       "devices[0].limits[0].name: is no value a device answers: \"tempreature\""},
      {"pattern.json", SiteWith("p", "A", "cell_*"),
       "devices[0].limits[0].name: matches no value a device answers"},
  };
  ASSERT_EQ(::mkfifo((dir + "/fifo.json").c_str(), 0644), 0);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    const std::string path = c.file[0] == '/' ? c.file : dir + "/" + c.file;
    if (!c.text.empty()) faults::WriteText(path, c.text);
    try {
      LoadSiteFile(path);
      ADD_FAILURE() << "accepted";
    } catch (const SiteError& e) {
      EXPECT_EQ(std::string(e.what()).rfind(path + ": ", 0), 0u) << e.what();
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
    }
  }
  faults::WriteText(dir + "/site.json", good);
  EXPECT_EQ(LoadSiteFile(dir + "/site.json").ports[0].path, dir + "/ttyUSB0")
      << "from the file's folder";
}

}  // namespace
}  // namespace runner
