#include "runner/replay/scenario.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>

#include <boost/date_time/gregorian/gregorian_types.hpp>
#include <json/reader.h>

#include "runner/recording/monitor_reply.h"
#include "runner/time/time_text.h"
#include "support/bounded_file.h"

namespace runner::replay {
namespace {

using Tokens = std::vector<std::string>;
using boost::posix_time::ptime;

constexpr long kMaxTicksPerLine = 100000;

// What a line handler needs besides its own tokens.
struct LineInput {
  Tokens args;       // the tokens after the verb
  std::string rest;  // the text after the verb, trimmed (configure's JSON)
  std::filesystem::path base_dir;
};

using Handler = void (*)(const LineInput&, Action&);

[[noreturn]] void Fail(const std::string& problem) { throw std::invalid_argument(problem); }

void ExpectArgs(const LineInput& in, std::size_t min, std::size_t max, const char* usage) {
  if (in.args.size() < min || in.args.size() > max) Fail(std::string("usage: ") + usage);
}

unsigned long ParseUnsigned(const std::string& token, unsigned long max, const char* what) {
  if (token.empty() || token.size() > 10 ||
      token.find_first_not_of("0123456789") != std::string::npos)
    Fail(std::string(what) + " '" + token + "' is not a decimal number");
  const unsigned long long n = std::stoull(token);
  if (n > max) Fail(std::string(what) + " '" + token + "' exceeds " + std::to_string(max));
  return static_cast<unsigned long>(n);
}

long ParseSigned(const std::string& token, const char* what) {
  const bool negative = !token.empty() && token[0] == '-';
  const long n =
      static_cast<long>(ParseUnsigned(negative ? token.substr(1) : token, 0x7FFFFFFFul, what));
  return negative ? -n : n;
}

float ParseFloat(const std::string& token, const char* what) {
  errno = 0;
  char* end = nullptr;
  const float v = std::strtof(token.c_str(), &end);
  if (token.empty() || *end != '\0' || errno == ERANGE)
    Fail(std::string(what) + " '" + token + "' is not a number");
  return v;
}

void ExpectName(const std::string& name, const char* what) {
  const bool ok = !name.empty() && !std::isdigit(static_cast<unsigned char>(name[0])) &&
                  name.find_first_not_of(
                      "abcdefghijklmnopqrstuvwxyz"
                      "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_-") == std::string::npos;
  if (!ok)
    Fail(std::string(what) + " '" + name +
         "' must be letters, digits, _ or -, "
         "not starting with a digit");
}

Json::Value ParseJson(const std::string& text, const std::string& where) {
  Json::CharReaderBuilder builder;
  builder["failIfExtra"] = true;
  builder["rejectDupKeys"] = true;
  std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  Json::Value value;
  std::string errors;
  if (!reader->parse(text.data(), text.data() + text.size(), &value, &errors)) {
    while (!errors.empty() && (errors.back() == '\n' || errors.back() == ' ')) errors.pop_back();
    for (auto& c : errors)
      if (c == '\n') c = ' ';
    Fail("bad JSON" + where + ": " + errors);
  }
  return value;
}

ptime ParseClock(const std::string& day, const std::string& clock) {
  if (const std::optional<ptime> at = runner::ParseTime(day + " " + clock)) return *at;
  // Well formed, with a valid time of day: then the date is what is wrong.
  bool day_form = day.size() == 10 && day[4] == '-' && day[7] == '-';
  for (std::size_t i = 0; day_form && i < day.size(); ++i)
    day_form = i == 4 || i == 7 || std::isdigit(static_cast<unsigned char>(day[i])) != 0;
  if (day_form && runner::ParseTime("2000-01-01 " + clock)) Fail("'" + day + "' is not a date");
  Fail("'" + day + " " + clock + "' is not a time YYYY-MM-DD HH:MM:SS");
}

// --- one handler a verb ---

void Create(const LineInput& in, Action& a) {
  ExpectArgs(in, 2, 3, "create <data_id> <address> [<name>]");
  a.id = static_cast<std::uint32_t>(ParseUnsigned(in.args[0], 0xFFFFFFFFul, "data id"));
  a.number = static_cast<long>(ParseUnsigned(in.args[1], 255, "address"));
  if (in.args.size() == 3) {
    ExpectName(in.args[2], "device name");
    a.device = in.args[2];
  }
}

void Use(const LineInput& in, Action& a) {
  ExpectArgs(in, 1, 1, "use <name>");
  ExpectName(in.args[0], "device name");
  a.device = in.args[0];
}

void Destroy(const LineInput& in, Action& a) {
  ExpectArgs(in, 0, 1, "destroy [<name>]");
  if (!in.args.empty()) {
    ExpectName(in.args[0], "device name");
    a.device = in.args[0];
  }
}

void Configure(const LineInput& in, Action& a) {
  if (in.rest.empty()) Fail("usage: configure <JSON object on one line>");
  a.config = ParseJson(in.rest, "");
}

void ConfigureFile(const LineInput& in, Action& a) {
  ExpectArgs(in, 1, 1, "configure-file <path>");
  const std::filesystem::path path = in.base_dir / in.args[0];
  std::string text;
  try {
    text = support::ReadBoundedFile(path.string(), std::size_t{1} << 20, "a device configuration");
  } catch (const support::FileError& e) {
    Fail(e.what());
  }
  a.config = ParseJson(text, " in " + path.string());
}

void Tick(const LineInput& in, Action& a) {
  ExpectArgs(in, 0, 1, "tick [<count>]");
  a.number = in.args.empty()
                 ? 1
                 : static_cast<long>(ParseUnsigned(in.args[0], kMaxTicksPerLine, "tick count"));
  if (a.number == 0) Fail("tick count 0");
}

void Receive(const LineInput& in, Action& a) {
  if (in.args.empty()) Fail("usage: recv <hex bytes>");
  a.chunks.push_back(ParseHex(in.args));
}

// reply <address> <reading>... [split <n>...] [bad-checksum]
void Reply(const LineInput& in, Action& a) {
  const char* usage = "reply <address hex> <reading>... [split <bytes>...] [bad-checksum]";
  if (in.args.size() < 2) Fail(std::string("usage: ") + usage);
  const Bytes address = ParseHex({in.args[0]});
  if (address.size() != 1) Fail("reply address '" + in.args[0] + "' is not one hex byte");
  Tokens readings, split;
  bool bad_checksum = false, in_split = false;
  for (std::size_t i = 1; i < in.args.size(); ++i) {
    const std::string& t = in.args[i];
    if (bad_checksum) Fail("bad-checksum must come last");
    if (t == "bad-checksum")
      bad_checksum = true;
    else if (t == "split")
      in_split = true;
    else
      (in_split ? split : readings).push_back(t);
  }
  if (in_split && split.empty()) Fail("split needs chunk sizes");
  std::vector<std::size_t> sizes;
  for (const auto& t : split) sizes.push_back(ParseUnsigned(t, 65536, "chunk size"));
  a.chunks = recording::SplitFrame(
      recording::BuildReply(address[0], ParseReadings(readings), bad_checksum), sizes);
}

void Query(const LineInput& in, Action& a) {
  ExpectArgs(in, 1, 1, "query <value name>");
  a.name = in.args[0];
}

void IoControl(const LineInput& in, Action& a) {
  if (in.args.empty()) Fail("usage: ioctl <code> [<hex input bytes>]");
  a.number = ParseSigned(in.args[0], "io-control code");
  a.bytes = ParseHex(Tokens(in.args.begin() + 1, in.args.end()));
}

void Cache(const LineInput& in, Action& a) {
  if (in.args.empty()) Fail("usage: cache <hex record image>");
  a.bytes = ParseHex(in.args);
}

void CacheFromLastRecord(const LineInput& in, Action&) {
  ExpectArgs(in, 0, 0, "cache-from-last-record");
}

void PeerValue(const LineInput& in, Action& a) {
  ExpectArgs(in, 3, 3, "peer <data_id> <value name> <value>");
  a.id = static_cast<std::uint32_t>(ParseUnsigned(in.args[0], 0xFFFFFFFFul, "peer data id"));
  a.name = in.args[1];
  a.value = ParseFloat(in.args[2], "peer value");
}

void PeerThrows(const LineInput& in, Action& a) {
  ExpectArgs(in, 2, 2, "peer-throws <data_id> <value name>");
  a.id = static_cast<std::uint32_t>(ParseUnsigned(in.args[0], 0xFFFFFFFFul, "peer data id"));
  a.name = in.args[1];
}

void Clock(const LineInput& in, Action& a) {
  const char* usage = "clock +<seconds> | clock -<seconds> | clock YYYY-MM-DD HH:MM:SS";
  if (in.args.size() == 2) {
    a.clock_at = ParseClock(in.args[0], in.args[1]);
    return;
  }
  if (in.args.size() != 1 || in.args[0].size() < 2 ||
      (in.args[0][0] != '+' && in.args[0][0] != '-'))
    Fail(std::string("usage: ") + usage);
  const long s = static_cast<long>(ParseUnsigned(in.args[0].substr(1), 0x7FFFFFFFul, "seconds"));
  a.clock_step = boost::posix_time::seconds(in.args[0][0] == '+' ? s : -s);
}

struct VerbEntry {
  Action::Verb verb;
  Handler handler;
};

const std::map<std::string, VerbEntry>& Verbs() {
  using V = Action::Verb;
  static const std::map<std::string, VerbEntry> verbs = {
      {"create", {V::kCreate, Create}},
      {"use", {V::kUse, Use}},
      {"destroy", {V::kDestroy, Destroy}},
      {"configure", {V::kConfigure, Configure}},
      {"configure-file", {V::kConfigure, ConfigureFile}},
      {"tick", {V::kTick, Tick}},
      {"recv", {V::kReceive, Receive}},
      {"reply", {V::kReceive, Reply}},
      {"query", {V::kQuery, Query}},
      {"ioctl", {V::kIoControl, IoControl}},
      {"cache", {V::kCache, Cache}},
      {"cache-from-last-record", {V::kCacheFromLastRecord, CacheFromLastRecord}},
      {"peer", {V::kPeerValue, PeerValue}},
      {"peer-throws", {V::kPeerThrows, PeerThrows}},
      {"clock", {V::kClock, Clock}},
  };
  return verbs;
}

std::string Trim(const std::string& s) {
  const auto first = s.find_first_not_of(" \t\r");
  if (first == std::string::npos) return "";
  return s.substr(first, s.find_last_not_of(" \t\r") - first + 1);
}

Tokens SplitWords(const std::string& s) {
  Tokens out;
  std::istringstream in(s);
  for (std::string w; in >> w;) out.push_back(w);
  return out;
}

// A '#' at the start of a word begins a comment, except in configure lines,
// whose JSON runs to the end of the line.
std::string StripComment(const std::string& line) {
  for (std::size_t i = 0; i < line.size(); ++i)
    if (line[i] == '#' && (i == 0 || line[i - 1] == ' ' || line[i - 1] == '\t'))
      return line.substr(0, i);
  return line;
}

// Parses one non-blank line into `a`; throws std::invalid_argument.
void ParseLine(const std::string& raw, const std::filesystem::path& base_dir, Action& a) {
  const std::string text = Trim(raw);
  const auto verb_end = text.find_first_of(" \t");
  const std::string verb = text.substr(0, verb_end);
  const auto it = Verbs().find(verb);
  if (it == Verbs().end()) Fail("unknown action '" + verb + "'");
  LineInput in;
  in.base_dir = base_dir;
  const std::string after = verb_end == std::string::npos ? "" : text.substr(verb_end);
  in.rest = Trim(verb == "configure" ? after : StripComment(after));
  in.args = SplitWords(in.rest);
  a.verb = it->second.verb;
  it->second.handler(in, a);
}

}  // namespace

ScenarioError::ScenarioError(const std::string& file, int line, const std::string& problem)
    : std::runtime_error(file + (line > 0 ? ":" + std::to_string(line) : std::string()) + ": " +
                         problem) {}

std::vector<Action> ParseScenario(std::istream& in, const std::string& file_name,
                                  std::string* torn) {
  const std::filesystem::path base_dir = std::filesystem::path(file_name).parent_path();
  std::vector<Action> actions;
  std::string raw;
  for (int line = 1; std::getline(in, raw); ++line) {
    const bool last_without_newline = in.eof();
    if (raw.size() > kMaxScenarioLineBytes)
      throw ScenarioFileError(file_name, "line " + std::to_string(line) + " is longer than " +
                                             support::SizeText(kMaxScenarioLineBytes));
    if (!raw.empty() && raw.back() == '\r') raw.pop_back();
    Action a;
    a.line = line;
    try {
      if (const std::size_t column = support::FirstNonTextColumn(raw))
        Fail("not text: a byte " + support::Printable(raw.substr(column - 1, 1)) + " at column " +
             std::to_string(column) + ": " + support::Printable(raw.substr(0, 80)));
      const std::string text = Trim(raw);
      if (text.empty() || text[0] == '#') continue;
      ParseLine(text, base_dir, a);
    } catch (const std::invalid_argument& e) {
      if (torn != nullptr && last_without_newline) {
        *torn = file_name + ":" + std::to_string(line) +
                ": the last line is cut short (no newline at its end) and is left out: " + e.what();
        break;
      }
      throw ScenarioError(file_name, line, e.what());
    }
    actions.push_back(std::move(a));
  }
  return actions;
}

std::vector<Action> LoadScenario(const std::string& path, std::string* torn) {
  std::string text;
  try {
    text = support::ReadBoundedFile(path, kMaxScenarioBytes, "a scenario");
  } catch (const support::FileError& e) {
    throw ScenarioFileError(path, e.problem());
  }
  std::istringstream in(std::move(text));
  return ParseScenario(in, path, torn);
}

}  // namespace runner::replay
