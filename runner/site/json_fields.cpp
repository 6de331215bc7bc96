#include "runner/site/json_fields.h"

#include <set>
#include <sstream>

namespace runner::internal {
namespace {

std::string Range(double lo, double hi) {
  std::ostringstream out;
  out << lo << ".." << hi;
  return out.str();
}

const Json::Value& RequireObject(const Json::Value& object, const std::string& where) {
  if (!object.isObject())
    throw FieldError{where.empty() ? "(top level)" : where,
                     "must be an object, got " + Describe(object)};
  return object;
}

long WholeValue(const Json::Value& value, const std::string& where, long lo, long hi) {
  return support::Whole(value, where, lo, hi, support::NumberText::kRefused);
}

double NumberValue(const Json::Value& value, const std::string& where, double lo, double hi) {
  const double number = support::Number(value, where, support::NumberText::kRefused);
  if (number < lo || number > hi)
    throw FieldError{where, "must lie in " + Range(lo, hi) + ", got " + Describe(value)};
  return number;
}

}  // namespace

Fields::Fields(const Json::Value& object, const std::string& where,
               std::initializer_list<const char*> known)
    : object_(RequireObject(object, where), where,
              std::set<std::string>(known.begin(), known.end())) {}

std::string Fields::String(const char* key) const {
  if (!Has(key)) throw FieldError{Where(key), "is required"};
  std::optional<std::string> text = OptionalString(key);
  if (text->empty()) throw FieldError{Where(key), "must not be empty"};
  return *text;
}

std::optional<std::string> Fields::OptionalString(const char* key) const {
  if (!Has(key)) return std::nullopt;
  const Json::Value& value = object_[key];
  if (!value.isString()) throw FieldError{Where(key), "must be a string, got " + Describe(value)};
  return value.asString();
}

long Fields::Whole(const char* key, long lo, long hi) const {
  if (!Has(key)) throw FieldError{Where(key), "is required"};
  return WholeValue(object_[key], Where(key), lo, hi);
}

std::optional<long> Fields::OptionalWhole(const char* key, long lo, long hi) const {
  if (!Has(key)) return std::nullopt;
  return WholeValue(object_[key], Where(key), lo, hi);
}

std::optional<double> Fields::OptionalNumber(const char* key, double lo, double hi) const {
  if (!Has(key)) return std::nullopt;
  return NumberValue(object_[key], Where(key), lo, hi);
}

std::string Resolve(const std::string& path, const std::string& base_dir) {
  if (path.empty() || path[0] == '/' || base_dir.empty()) return path;
  return base_dir + "/" + path;
}

}  // namespace runner::internal
