#pragma once
// The site file's typed fields, read with support/json_path.h so that each
// error says exactly where it is: "devices[1].limits[0].low".

#include <initializer_list>
#include <optional>
#include <string>

#include <json/value.h>

#include "support/json_path.h"

namespace runner::internal {

// Thrown with the JSON path and the problem; the site reader adds the file.
using FieldError = support::PathError;
using support::Describe;
using support::Item;
using support::Member;

// An object whose keys are all known; look-ups carry their paths. A key
// given as null counts as not given.
class Fields {
 public:
  Fields(const Json::Value& object, const std::string& where,
         std::initializer_list<const char*> known);

  bool Has(const char* key) const { return object_.Has(key) && !object_[key].isNull(); }
  const Json::Value& Get(const char* key) const { return object_[key]; }
  std::string Where(const char* key) const { return object_.Where(key); }

  std::string String(const char* key) const;  // required, non-empty
  std::optional<std::string> OptionalString(const char* key) const;
  long Whole(const char* key, long lo, long hi) const;  // required
  std::optional<long> OptionalWhole(const char* key, long lo, long hi) const;
  std::optional<double> OptionalNumber(const char* key, double lo, double hi) const;

 private:
  support::Object object_;
};

// `path` taken from `base_dir` unless it is absolute (or empty).
std::string Resolve(const std::string& path, const std::string& base_dir);

}  // namespace runner::internal
