#pragma once
// Reading site JSON with the path of every value at hand, so each error can
// say exactly where it is: "devices[1].limits[0].low".

#include <initializer_list>
#include <optional>
#include <set>
#include <string>

#include <json/value.h>

namespace runner::internal {

// Thrown with the JSON path and the problem; the site reader adds the file.
struct FieldError {
  std::string where;
  std::string problem;
};

// A short rendering of a JSON value for messages.
std::string Describe(const Json::Value& value);

// "devices" + 1 -> "devices[1]"; "devices[1]" + "name" -> "devices[1].name".
std::string Item(const std::string& where, unsigned index);
std::string Member(const std::string& where, const std::string& key);

// An object whose keys are all known; look-ups carry their paths.
class Fields {
 public:
  Fields(const Json::Value& object, std::string where, std::initializer_list<const char*> known);

  bool Has(const char* key) const;
  const Json::Value& Get(const char* key) const { return object_[key]; }
  std::string Where(const char* key) const { return Member(where_, key); }

  std::string String(const char* key) const;  // required, non-empty
  std::optional<std::string> OptionalString(const char* key) const;
  long Whole(const char* key, long lo, long hi) const;  // required
  std::optional<long> OptionalWhole(const char* key, long lo, long hi) const;
  std::optional<double> OptionalNumber(const char* key, double lo, double hi) const;

 private:
  const Json::Value& object_;
  std::string where_;
};

long WholeValue(const Json::Value& value, const std::string& where, long lo, long hi);
double NumberValue(const Json::Value& value, const std::string& where, double lo, double hi);

}  // namespace runner::internal
