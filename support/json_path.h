#pragma once
// Reading JSON settings with the path of every value at hand, so that each
// error names exactly where it is: "devices[1].limits[0].low",
// "monitors[0].faults.drop". The reference host's site file and the monitor
// simulator's settings are both read with it.

#include <optional>
#include <set>
#include <stdexcept>
#include <string>

#include <json/value.h>

namespace support {

// A bad value and its place; what() is "where: problem".
class PathError : public std::runtime_error {
 public:
  PathError(const std::string& where, const std::string& problem);

  const std::string& where() const { return where_; }
  const std::string& problem() const { return problem_; }

 private:
  std::string where_;
  std::string problem_;
};

// "devices" + "name" -> "devices.name", "" + "name" -> "name";
// "devices" + 1 -> "devices[1]".
std::string Member(const std::string& where, const std::string& key);
std::string Item(const std::string& where, unsigned index);

// Where the first comment ("//" or "/*") outside a string starts in JSON
// text, as 1-based line and column; none when there is none. JSON has no
// comments, and the other tools an operator points at a file (jq, Python)
// refuse them, even where a lenient parser would skip them.
struct TextPlace {
  int line = 0;
  int column = 0;
};
std::optional<TextPlace> FindJsonComment(const std::string& text);

// A short rendering of a JSON value for messages: "13.3", "\"x\"", "null",
// "an array", "an object".
std::string Describe(const Json::Value& value);

// Whether a number may be written as text ("13.3"). The simulator takes
// it, since its settings also come from its command line; the site file
// wants JSON numbers.
enum class NumberText { kRefused, kAccepted };

// Text that is a finite number and nothing else ("13.3", "-5", "1e3").
std::optional<double> NumberFromText(const std::string& text);

// A finite number; otherwise PathError "must be a number, got ...".
double Number(const Json::Value& value, const std::string& where, NumberText text);

// A whole number in lo..hi; otherwise PathError "must be a whole number in
// lo..hi, got ...". Where text is accepted, a value that is no number at all
// is told so first ("must be a number").
long Whole(const Json::Value& value, const std::string& where, long lo, long hi, NumberText text);

// An object whose keys are all known, checked before any is read; its
// look-ups carry their paths. The caller has made sure it is an object and
// says so in its own words.
class Object {
 public:
  Object(const Json::Value& object, std::string where, const std::set<std::string>& known);

  // The key is given, null included.
  bool Has(const char* key) const { return object_.isMember(key); }
  const Json::Value& operator[](const char* key) const { return object_[key]; }
  std::string Where(const std::string& key) const { return Member(where_, key); }

 private:
  const Json::Value& object_;
  std::string where_;
};

// `value` as compact JSON text on one line, UTF-8 as it is, numbers to 10
// significant digits (values come rounded to their resolution).
std::string OneLine(const Json::Value& value);

}  // namespace support
