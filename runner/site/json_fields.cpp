#include "runner/site/json_fields.h"

#include <cmath>
#include <sstream>

namespace runner::internal {
namespace {

std::string Range(double lo, double hi) {
  std::ostringstream out;
  out << lo << ".." << hi;
  return out.str();
}

}  // namespace

std::string Describe(const Json::Value& value) {
  if (value.isString()) return "\"" + value.asString() + "\"";
  if (value.isNumeric() || value.isBool()) return value.asString();
  if (value.isNull()) return "null";
  return value.isArray() ? "an array" : "an object";
}

std::string Item(const std::string& where, unsigned index) {
  return where + "[" + std::to_string(index) + "]";
}

std::string Member(const std::string& where, const std::string& key) {
  return where.empty() ? key : where + "." + key;
}

Fields::Fields(const Json::Value& object, std::string where,
               std::initializer_list<const char*> known)
    : object_(object), where_(std::move(where)) {
  if (!object.isObject())
    throw FieldError{where_.empty() ? "(top level)" : where_,
                     "must be an object, got " + Describe(object)};
  const std::set<std::string> names(known.begin(), known.end());
  for (const std::string& key : object.getMemberNames())
    if (!names.count(key)) throw FieldError{Member(where_, key), "unknown key"};
}

bool Fields::Has(const char* key) const { return object_.isMember(key) && !object_[key].isNull(); }

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

long WholeValue(const Json::Value& value, const std::string& where, long lo, long hi) {
  const bool whole =
      value.isNumeric() && !value.isBool() && value.asDouble() == std::floor(value.asDouble());
  if (!whole || value.asDouble() < lo || value.asDouble() > hi)
    throw FieldError{where, "must be a whole number in " + std::to_string(lo) + ".." +
                                std::to_string(hi) + ", got " + Describe(value)};
  return static_cast<long>(value.asDouble());
}

double NumberValue(const Json::Value& value, const std::string& where, double lo, double hi) {
  if (!value.isNumeric() || value.isBool() || !std::isfinite(value.asDouble()))
    throw FieldError{where, "must be a number, got " + Describe(value)};
  const double number = value.asDouble();
  if (number < lo || number > hi)
    throw FieldError{where, "must lie in " + Range(lo, hi) + ", got " + Describe(value)};
  return number;
}

}  // namespace runner::internal
