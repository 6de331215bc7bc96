#include "runner/publish/tests/test_broker.h"

#include <fcntl.h>
#include <mosquitto.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>

namespace runner::publish::testing {
namespace {

sockaddr_in Loopback(int port) {
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<std::uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return addr;
}

// A port the system just handed out and took back: free, unless another
// test grabs it in between.
int FreePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr = Loopback(0);
  socklen_t size = sizeof addr;
  if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &size) != 0)
    throw std::runtime_error("no free loopback port");
  ::close(fd);
  return ntohs(addr.sin_port);
}

bool Accepts(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  const sockaddr_in addr = Loopback(port);
  const bool ok = ::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0;
  ::close(fd);
  return ok;
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace

TestBroker::TestBroker(const halvex::testing::TestFolder& folder, BrokerAccess access)
    : config_(folder / "mosquitto.conf"), log_(folder / "mosquitto.log"), port_(FreePort()) {
  std::ofstream conf(config_);
  conf << "listener " << port_ << " 127.0.0.1\n";
  if (!access.certfile.empty())
    conf << "cafile " << access.cafile << "\ncertfile " << access.certfile << "\nkeyfile "
         << access.keyfile << "\n";
  if (access.persistent)
    conf << "persistence true\npersistence_location " << folder.path()
         << "/\nautosave_interval 1\nmax_queued_messages 100000\n";
  else
    conf << "persistence false\n";
  conf << "log_dest stderr\n"
       << "log_type all\n";
  // As root the broker would otherwise switch to a user that cannot read the folder.
  if (::geteuid() == 0) conf << "user root\n";
  if (access.user.empty()) {
    conf << "allow_anonymous true\n";
  } else {
    const std::string passwords = folder / "passwords";
    const std::string command = "mosquitto_passwd -c -b '" + passwords + "' '" + access.user +
                                "' '" + access.password + "' >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0) throw std::runtime_error("failed: " + command);
    conf << "allow_anonymous false\npassword_file " << passwords << "\n";
  }
  if (!access.acl.empty()) {
    const std::string acl = folder / "acl";
    std::ofstream(acl) << access.acl;
    conf << "acl_file " << acl << "\n";
  }
}

TestBroker::~TestBroker() { Stop(); }

void TestBroker::Start() {
  if (pid_ > 0) return;
  pid_ = ::fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    const int fd = ::open(log_.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    ::dup2(fd, STDOUT_FILENO);
    ::dup2(fd, STDERR_FILENO);
    ::execl("/usr/sbin/mosquitto", "mosquitto", "-c", config_.c_str(), nullptr);
    ::_exit(127);
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!Accepts(port_)) {
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_ || std::chrono::steady_clock::now() > deadline) {
      Stop();
      throw std::runtime_error("the broker did not come up on port " + std::to_string(port_) +
                               ":\n" + ReadAll(log_));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

void TestBroker::Stop() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGKILL);
  ::waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

TestSubscriber::TestSubscriber(int port, const std::string& filter, const BrokerAccess& access,
                               const std::string& session) {
  mosquitto_lib_init();
  if (session.empty()) {
    mosq_ = mosquitto_new(nullptr, true, this);
    mosquitto_int_option(mosq_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5);
  } else {  // MQTT 3.1.1: a session without clean start lasts until it is cleaned
    mosq_ = mosquitto_new(session.c_str(), false, this);
    mosquitto_reconnect_delay_set(mosq_, 1, 1, false);
  }
  mosquitto_message_callback_set(mosq_, OnMessage);
  mosquitto_subscribe_callback_set(mosq_, OnSubscribe);
  mosquitto_publish_callback_set(mosq_, OnPublish);
  if (!access.user.empty())
    mosquitto_username_pw_set(mosq_, access.user.c_str(), access.password.c_str());
  if (mosquitto_connect(mosq_, "127.0.0.1", port, 30) != MOSQ_ERR_SUCCESS ||
      mosquitto_loop_start(mosq_) != MOSQ_ERR_SUCCESS ||
      mosquitto_subscribe(mosq_, nullptr, filter.c_str(), 1) != MOSQ_ERR_SUCCESS)
    throw std::runtime_error("the test subscriber cannot reach port " + std::to_string(port));
  std::unique_lock<std::mutex> lock(mutex_);
  if (!arrived_.wait_for(lock, std::chrono::seconds(5), [this] { return subscribed_; }))
    throw std::runtime_error("the broker did not confirm the subscription to " + filter);
}

TestSubscriber::~TestSubscriber() {
  mosquitto_disconnect(mosq_);
  mosquitto_loop_stop(mosq_, false);
  mosquitto_destroy(mosq_);
}

void TestSubscriber::OnMessage(mosquitto*, void* self, const mosquitto_message* m) {
  auto& s = *static_cast<TestSubscriber*>(self);
  const std::lock_guard<std::mutex> lock(s.mutex_);
  s.received_.push_back(
      {m->topic,
       std::string(static_cast<const char*>(m->payload), static_cast<std::size_t>(m->payloadlen)),
       m->retain});
  s.arrived_.notify_all();
}

void TestSubscriber::OnSubscribe(mosquitto*, void* self, int, int, const int*) {
  auto& s = *static_cast<TestSubscriber*>(self);
  const std::lock_guard<std::mutex> lock(s.mutex_);
  s.subscribed_ = true;
  s.arrived_.notify_all();
}

bool TestSubscriber::WaitFor(const std::string& topic, const std::string& payload,
                             std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(mutex_);
  return arrived_.wait_for(lock, timeout, [&] {
    for (const Received& r : received_)
      if (r.topic == topic && r.payload == payload) return true;
    return false;
  });
}

void TestSubscriber::OnPublish(mosquitto*, void* self, int mid) {
  auto& s = *static_cast<TestSubscriber*>(self);
  const std::lock_guard<std::mutex> lock(s.mutex_);
  s.published_.push_back(mid);
  s.arrived_.notify_all();
}

void TestSubscriber::Publish(const std::string& topic, const std::string& payload, bool retain) {
  int mid = 0;
  if (mosquitto_publish(mosq_, &mid, topic.c_str(), static_cast<int>(payload.size()),
                        payload.data(), 1, retain) != MOSQ_ERR_SUCCESS)
    throw std::runtime_error("the test client cannot publish to " + topic);
  std::unique_lock<std::mutex> lock(mutex_);
  if (!arrived_.wait_for(lock, std::chrono::seconds(5), [&] {
        return std::find(published_.begin(), published_.end(), mid) != published_.end();
      }))
    throw std::runtime_error("the broker did not acknowledge a message to " + topic);
}

int TestSubscriber::Count(const std::string& topic, const std::optional<std::string>& payload) {
  const std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<int>(std::count_if(received_.begin(), received_.end(), [&](const Received& r) {
    return r.topic == topic && (!payload || r.payload == *payload);
  }));
}

std::string TestSubscriber::Last(const std::string& topic) {
  const std::lock_guard<std::mutex> lock(mutex_);
  for (auto r = received_.rbegin(); r != received_.rend(); ++r)
    if (r->topic == topic) return r->payload;
  return "";
}

std::vector<Received> TestSubscriber::All() {
  const std::lock_guard<std::mutex> lock(mutex_);
  return received_;
}

}  // namespace runner::publish::testing
