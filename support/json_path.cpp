#include "support/json_path.h"

#include <cmath>
#include <cstdlib>
#include <limits>

#include <json/writer.h>

namespace support {
PathError::PathError(const std::string& where, const std::string& problem)
    : std::runtime_error(where + ": " + problem), where_(where), problem_(problem) {}

std::string Member(const std::string& where, const std::string& key) {
  return where.empty() ? key : where + "." + key;
}

std::string Item(const std::string& where, unsigned index) {
  return where + "[" + std::to_string(index) + "]";
}

std::optional<double> NumberFromText(const std::string& text) {
  if (text.empty()) return std::nullopt;
  char* end = nullptr;
  const double number = std::strtod(text.c_str(), &end);
  if (end != text.c_str() + text.size() || !std::isfinite(number)) return std::nullopt;
  return number;
}

std::string Describe(const Json::Value& value) {
  if (value.isString()) return "\"" + value.asString() + "\"";
  if (value.isNumeric() || value.isBool()) return value.asString();
  if (value.isNull()) return "null";
  return value.isArray() ? "an array" : "an object";
}

double Number(const Json::Value& value, const std::string& where, NumberText text) {
  if (value.isNumeric() && !value.isBool() && std::isfinite(value.asDouble()))
    return value.asDouble();
  if (text == NumberText::kAccepted && value.isString())
    if (const std::optional<double> number = NumberFromText(value.asString())) return *number;
  throw PathError(where, "must be a number, got " + Describe(value));
}

long Whole(const Json::Value& value, const std::string& where, long lo, long hi, NumberText text) {
  double number = std::numeric_limits<double>::quiet_NaN();
  if (text == NumberText::kAccepted) {
    number = Number(value, where, text);
  } else if (value.isNumeric() && !value.isBool()) {
    number = value.asDouble();
  }
  if (!(number == std::floor(number)) || number < lo || number > hi)
    throw PathError(where, "must be a whole number in " + std::to_string(lo) + ".." +
                               std::to_string(hi) + ", got " + Describe(value));
  return static_cast<long>(number);
}

Object::Object(const Json::Value& object, std::string where, const std::set<std::string>& known)
    : object_(object), where_(std::move(where)) {
  for (const std::string& key : object.getMemberNames())
    if (!known.count(key)) throw PathError(Member(where_, key), "unknown key");
}

std::optional<TextPlace> FindJsonComment(const std::string& text) {
  TextPlace at{1, 1};
  bool in_string = false;
  for (std::size_t i = 0; i < text.size(); ++i, ++at.column) {
    const char c = text[i];
    if (in_string) {
      if (c == '\\') {
        ++i, ++at.column;  // the escaped character, whatever it is
      } else if (c == '"') {
        in_string = false;
      }
    } else if (c == '"') {
      in_string = true;
    } else if (c == '/' && i + 1 < text.size() && (text[i + 1] == '/' || text[i + 1] == '*')) {
      return at;
    }
    if (c == '\n') {
      ++at.line;
      at.column = 0;
    }
  }
  return std::nullopt;
}

std::string OneLine(const Json::Value& value) {
  Json::StreamWriterBuilder builder;
  builder["indentation"] = "";
  builder["precision"] = 10;
  builder["emitUTF8"] = true;
  return Json::writeString(builder, value);
}

}  // namespace support
