#include "platform/bluetooth/bluez/MockBluez.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <stdexcept>

extern char** environ;

namespace velmora::platform::bluetooth::bluez::testing {

namespace {

// dbus-daemon and the mock are looked up on the usual places; the mock runs on the
// system's python (where python3-dbusmock is installed), not on one first on PATH.
std::string program(const char* name, const char* fallback) {
  if (const char* given = std::getenv(name)) return given;
  return fallback;
}

std::string busConfig(const std::filesystem::path& folder, bool denyObjectListing) {
  std::string deny;
  if (denyObjectListing) {
    deny = "    <deny send_destination=\"org.bluez\" send_interface=\"org.freedesktop.DBus.ObjectManager\"/>\n";
  }
  return "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
         " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
         "<busconfig>\n"
         "  <type>session</type>\n"
         "  <listen>unix:dir=" +
         folder.string() +
         "</listen>\n"
         "  <auth>EXTERNAL</auth>\n"
         "  <policy context=\"default\">\n"
         "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
         "    <allow eavesdrop=\"true\"/>\n"
         "    <allow own=\"*\"/>\n" +
         deny +
         "  </policy>\n"
         "</busconfig>\n";
}

pid_t spawn(const std::vector<std::string>& args, const std::vector<std::string>& extraEnv, int stdoutFd) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (stdoutFd >= 0) posix_spawn_file_actions_adddup2(&actions, stdoutFd, STDOUT_FILENO);
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  std::vector<std::string> env = extraEnv;
  for (char** e = environ; *e; ++e) {
    const std::string entry(*e);
    bool overridden = false;
    for (const auto& x : extraEnv) overridden |= entry.starts_with(x.substr(0, x.find('=') + 1));
    if (!overridden) env.push_back(entry);
  }
  std::vector<char*> envp;
  for (const auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);
  pid_t pid = -1;
  const int r = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (r != 0) throw std::runtime_error("cannot start " + args[0] + ": " + std::strerror(r));
  return pid;
}

void end(pid_t& pid) {
  if (pid <= 0) return;
  ::kill(pid, SIGTERM);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  pid = -1;
}

// Reads one line from the descriptor, waiting at most the bound.
std::string readLine(int fd, std::chrono::milliseconds bound) {
  std::string line;
  const auto deadline = std::chrono::steady_clock::now() + bound;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) throw std::runtime_error("dbus-daemon gave no address in time");
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
    char c = 0;
    const auto n = ::read(fd, &c, 1);
    if (n <= 0) throw std::runtime_error("dbus-daemon ended before it gave its address");
    if (c == '\n') return line;
    line.push_back(c);
  }
}

// Serves the connection until the predicate holds or the bound passes.
template <class Done>
bool serveUntil(sdbus::IConnection& connection, Done done, std::chrono::milliseconds bound) {
  const auto deadline = std::chrono::steady_clock::now() + bound;
  for (;;) {
    while (connection.processPendingRequest()) {
    }
    if (done()) return true;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    const auto data = connection.getEventLoopPollData();
    int timeout = data.getPollTimeout();
    if (timeout < 0 || timeout > left.count()) timeout = static_cast<int>(left.count());
    pollfd p{data.fd, data.events, 0};
    ::poll(&p, 1, timeout);
  }
}

}  // namespace

MockBluez::MockBluez(Options options) : options_(options) {
  char pattern[] = "/tmp/velmora-bluez-XXXXXX";
  if (!::mkdtemp(pattern)) throw std::runtime_error("cannot make a temporary folder");
  folder_ = pattern;
  const auto config = folder_ / "bus.conf";
  std::ofstream(config) << busConfig(folder_, options_.denyObjectListing);

  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("cannot make a pipe");
  try {
    daemon_ = spawn({program("VELMORA_DBUS_DAEMON", "/usr/bin/dbus-daemon"), "--config-file=" + config.string(),
                     "--print-address", "--nofork"},
                    {}, fds[1]);
    ::close(fds[1]);
    address_ = readLine(fds[0], kBound);
    ::close(fds[0]);
  } catch (...) {
    ::close(fds[0]);
    end(daemon_);
    std::filesystem::remove_all(folder_);
    throw;
  }
  driver_ = sdbus::createSessionBusConnectionWithAddress(address_);
  if (options_.startService) startService();
}

MockBluez::~MockBluez() {
  proxies_.clear();
  driver_.reset();
  end(service_);
  end(daemon_);
  std::error_code ignored;
  std::filesystem::remove_all(folder_, ignored);
}

void MockBluez::startService() {
  if (service_ > 0) return;
  const int quiet = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  try {
    service_ = spawn({program("VELMORA_DBUSMOCK_PYTHON", "/usr/bin/python3"), "-m", "dbusmock", "--template", "bluez5"},
                     {"DBUS_SYSTEM_BUS_ADDRESS=" + address_, "DBUS_SESSION_BUS_ADDRESS=" + address_}, quiet);
  } catch (...) {
    ::close(quiet);
    throw;
  }
  ::close(quiet);
  waitForServiceOwner(true);
}

void MockBluez::stopService() {
  if (service_ <= 0) return;
  proxies_.clear();
  end(service_);
  waitForServiceOwner(false);
}

void MockBluez::waitForServiceOwner(bool present) {
  auto connection = sdbus::createSessionBusConnectionWithAddress(address_);
  bool owned = !present;
  auto match = connection->addMatch(
      "type='signal',sender='org.freedesktop.DBus',member='NameOwnerChanged',arg0='org.bluez'",
      [&owned](sdbus::Message& m) {
        std::string name, oldOwner, newOwner;
        m >> name >> oldOwner >> newOwner;
        owned = !newOwner.empty();
      });
  auto bus = sdbus::createProxy(*connection, "org.freedesktop.DBus", "/org/freedesktop/DBus");
  bus->callMethod("NameHasOwner").onInterface("org.freedesktop.DBus").withArguments("org.bluez").storeResultsTo(owned);
  if (!serveUntil(*connection, [&] { return owned == present; }, kBound)) {
    throw std::runtime_error(present ? "the mock Bluetooth service did not come up" : "the mock service did not end");
  }
}

sdbus::IProxy& MockBluez::proxy(const std::string& path) {
  auto& slot = proxies_[path];
  if (!slot) slot = sdbus::createProxy(*driver_, "org.bluez", path);
  return *slot;
}

std::string MockBluez::addAdapter(const std::string& name, const std::string& systemName) {
  std::string path;
  proxy("/").callMethod("AddAdapter").onInterface("org.bluez.Mock").withArguments(name, systemName).storeResultsTo(path);
  return path;
}

void MockBluez::removeAdapter(const std::string& name) {
  proxy("/").callMethod("RemoveAdapter").onInterface("org.bluez.Mock").withArguments(name);
}

std::string MockBluez::addDevice(const std::string& adapter, const std::string& address, const std::string& alias) {
  std::string path;
  proxy("/")
      .callMethod("AddDevice")
      .onInterface("org.bluez.Mock")
      .withArguments(adapter, address, alias)
      .storeResultsTo(path);
  return path;
}

void MockBluez::removeDevice(const std::string& adapterPath, const std::string& devicePath) {
  proxy(adapterPath)
      .callMethod("RemoveDevice")
      .onInterface("org.bluez.Adapter1")
      .withArguments(sdbus::ObjectPath(devicePath));
}

void MockBluez::updateProperties(const std::string& path, const std::string& interface,
                                 const std::map<std::string, sdbus::Variant>& properties,
                                 const std::vector<std::string>& invalidated) {
  const std::vector<sdbus::Variant> args{sdbus::Variant(interface), sdbus::Variant(properties),
                                         sdbus::Variant(invalidated)};
  proxy(path)
      .callMethod("EmitSignal")
      .onInterface("org.freedesktop.DBus.Mock")
      .withArguments(std::string("org.freedesktop.DBus.Properties"), std::string("PropertiesChanged"),
                     std::string("sa{sv}as"), args);
}

void MockBluez::setPowered(const std::string& adapterPath, bool powered) {
  proxy(adapterPath)
      .callMethod("UpdateProperties")
      .onInterface("org.freedesktop.DBus.Mock")
      .withArguments(std::string("org.bluez.Adapter1"),
                     std::map<std::string, sdbus::Variant>{{"Powered", sdbus::Variant(powered)}});
}

std::vector<std::vector<sdbus::Variant>> MockBluez::methodCalls(const std::string& path, const std::string& method) {
  std::vector<sdbus::Struct<std::uint64_t, std::vector<sdbus::Variant>>> calls;
  proxy(path).callMethod("GetMethodCalls").onInterface("org.freedesktop.DBus.Mock").withArguments(method).storeResultsTo(calls);
  std::vector<std::vector<sdbus::Variant>> out;
  for (const auto& call : calls) out.push_back(std::get<1>(call));
  return out;
}

std::vector<std::string> MockBluez::uniqueNames() {
  auto bus = sdbus::createProxy(*driver_, "org.freedesktop.DBus", "/org/freedesktop/DBus");
  std::vector<std::string> names;
  bus->callMethod("ListNames").onInterface("org.freedesktop.DBus").storeResultsTo(names);
  std::erase_if(names, [](const std::string& n) { return !n.starts_with(":"); });
  return names;
}

MockBluez::SignalWatch::SignalWatch(const std::string& address, const std::string& rule)
    : connection_(sdbus::createSessionBusConnectionWithAddress(address)),
      match_(connection_->addMatch(rule, [this](sdbus::Message&) { ++seen_; })) {}

MockBluez::SignalWatch::~SignalWatch() {
  match_.reset();
  connection_.reset();
}

bool MockBluez::SignalWatch::waitFor(std::size_t count, std::chrono::milliseconds bound) {
  return serveUntil(*connection_, [&] { return seen_ >= count; }, bound);
}

}  // namespace velmora::platform::bluetooth::bluez::testing
