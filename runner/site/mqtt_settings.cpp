#include "runner/site/mqtt_settings.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

#include "runner/site/json_fields.h"
#include "support/bounded_file.h"

namespace runner {
namespace {

using internal::FieldError;

constexpr std::size_t kMaxPasswordFileBytes = 4096;
constexpr std::size_t kMaxClientIdLength = 64;

bool IsTopicText(const std::string& text) {
  return !text.empty() && text.find_first_of("+#") == std::string::npos && text.front() != '/' &&
         text.back() != '/';
}

std::string ReadPassword(const std::string& path, const std::string& where) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) throw FieldError{where, path + ": " + std::strerror(errno)};
  if ((st.st_mode & 077) != 0)
    throw FieldError{where, path + ": others than its owner may read it (mode " +
                                std::to_string((st.st_mode >> 6) & 7) +
                                std::to_string((st.st_mode >> 3) & 7) +
                                std::to_string(st.st_mode & 7) + "); chmod 600 it"};
  try {
    std::string text = support::ReadBoundedFile(path, kMaxPasswordFileBytes, "a password file");
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    if (text.empty()) throw FieldError{where, path + ": is empty"};
    return text;
  } catch (const support::FileError& e) {
    throw FieldError{where, e.what()};
  }
}

std::string ClientIdText(const std::string& text) {
  std::string id;
  for (const char c : text) {
    const bool kept =
        (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
    if (kept) id += c;
  }
  return id.substr(0, kMaxClientIdLength);
}

}  // namespace

BrokerUrl ParseBrokerUrl(const std::string& text) {
  BrokerUrl url;
  std::string rest;
  if (text.rfind("mqtt://", 0) == 0) {
    rest = text.substr(7);
  } else if (text.rfind("mqtts://", 0) == 0) {
    url.tls = true;
    url.port = 8883;
    rest = text.substr(8);
  } else {
    throw std::invalid_argument("\"" + text +
                                "\" is not mqtt://HOST[:PORT] or mqtts://HOST[:PORT]");
  }
  if (!rest.empty() && rest.back() == '/') rest.pop_back();
  if (rest.empty()) throw std::invalid_argument("\"" + text + "\" names no host");
  std::size_t colon = rest.rfind(':');
  if (rest.front() == '[' && colon != std::string::npos && colon < rest.find(']'))
    colon = std::string::npos;  // "[::1]": the colons are the address's own
  url.host = rest.substr(0, colon);
  if (colon != std::string::npos) {
    const std::string port = rest.substr(colon + 1);
    char* end = nullptr;
    errno = 0;
    const bool digits = !port.empty() && port.find_first_not_of("0123456789") == std::string::npos;
    const long n = digits ? std::strtol(port.c_str(), &end, 10) : -1;
    if (!digits || *end != '\0' || errno != 0 || n < 1 || n > 65535)
      throw std::invalid_argument("\"" + text + "\": port must be 1..65535, got \"" + port + "\"");
    url.port = static_cast<int>(n);
  }
  // "[::1]:1883": the brackets only keep the address's colons from the port.
  if (url.host.size() > 2 && url.host.front() == '[' && url.host.back() == ']')
    url.host = url.host.substr(1, url.host.size() - 2);
  if (url.host.empty() || url.host.find_first_of("/?#@ []") != std::string::npos)
    throw std::invalid_argument("\"" + text + "\" names no host");
  return url;
}

std::string DefaultClientId(const std::string& site_name) {
  char host[HOST_NAME_MAX + 1] = {};
  if (::gethostname(host, sizeof host - 1) != 0) std::strcpy(host, "host");
  return ClientIdText(std::string("qorv-") + host + "-" + site_name);
}

namespace internal {

MqttSettings ReadMqttSettings(const Json::Value& object, const std::string& where,
                              const std::string& base_dir, const std::string& site_name) {
  const Fields f(object, where,
                 {"url", "client_id", "username", "password_file", "ca_file", "cert_file",
                  "key_file", "qos", "topic_prefix", "discovery_prefix", "backlog_hours"});
  MqttSettings s;
  try {
    s.broker = ParseBrokerUrl(f.String("url"));
  } catch (const std::invalid_argument& e) {
    throw FieldError{f.Where("url"), e.what()};
  }
  s.client_id = f.OptionalString("client_id").value_or(DefaultClientId(site_name));
  if (s.client_id.empty() || s.client_id.size() > kMaxClientIdLength)
    throw FieldError{f.Where("client_id"), "must be 1 to 64 characters"};
  s.username = f.OptionalString("username").value_or("");
  if (auto file = f.OptionalString("password_file")) {
    s.password_file = Resolve(*file, base_dir);
    s.password = ReadPassword(s.password_file, f.Where("password_file"));
    if (s.username.empty())
      throw FieldError{f.Where("password_file"), "needs a \"username\" beside it"};
  }
  for (auto [key, field] : {std::pair{"ca_file", &s.ca_file}, std::pair{"cert_file", &s.cert_file},
                            std::pair{"key_file", &s.key_file}}) {
    *field = Resolve(f.OptionalString(key).value_or(""), base_dir);
    if (!field->empty() && !s.broker.tls) throw FieldError{f.Where(key), "needs an mqtts:// url"};
    if (!field->empty() && ::access(field->c_str(), R_OK) != 0)
      throw FieldError{f.Where(key), *field + ": " + std::strerror(errno)};
  }
  // A client certificate is useless without its key, and the other way round.
  if (s.cert_file.empty() != s.key_file.empty()) {
    const bool has_cert = !s.cert_file.empty();
    throw FieldError{f.Where(has_cert ? "cert_file" : "key_file"),
                     std::string("needs \"") + (has_cert ? "key_file" : "cert_file") +
                         "\" beside it: a client certificate and its key go together"};
  }
  if (f.Has("qos")) {
    const Json::Value& qos = f.Get("qos");
    if (!qos.isIntegral() || qos.asInt64() < 0 || qos.asInt64() > 2)
      throw FieldError{f.Where("qos"), internal::Describe(qos) + " is not 0, 1 or 2"};
    s.qos = qos.asInt();
  }
  s.topic_prefix = f.OptionalString("topic_prefix").value_or(s.topic_prefix);
  if (!IsTopicText(s.topic_prefix))
    throw FieldError{f.Where("topic_prefix"),
                     "must be a topic without '+', '#' or a '/' at either end"};
  if (f.Has("discovery_prefix") && f.Get("discovery_prefix").isBool()) {
    if (f.Get("discovery_prefix").asBool())
      throw FieldError{f.Where("discovery_prefix"), "must be a topic, or false to turn it off"};
    s.discovery_prefix.reset();
  } else if (auto prefix = f.OptionalString("discovery_prefix")) {
    if (!IsTopicText(*prefix))
      throw FieldError{f.Where("discovery_prefix"),
                       "must be a topic without '+', '#' or a '/' at either end"};
    s.discovery_prefix = *prefix;
  }
  s.backlog_hours = f.OptionalNumber("backlog_hours", 0.01, 8760).value_or(s.backlog_hours);
  return s;
}

}  // namespace internal
}  // namespace runner
