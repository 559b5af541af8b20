#include "secret_service.h"

#include <fcntl.h>
#include <gio/gio.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

namespace {

constexpr const char* kBusName = "org.freedesktop.secrets";

// The whole of a small text file ("" when it cannot be read).
std::string ReadText(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace

SecretService::SecretService() {
  root_.MakeDir("home/data");
  root_.MakeDir("run");
  ::chmod((root_ / "run").c_str(), 0700);
  ready_ = StartBus() && StartKeyring() && WaitForName();
}

SecretService::~SecretService() {
  // The daemon first: it leaves when its bus goes, but a stopped one never would.
  Resume();
  End(&keyring_);
  End(&bus_);
}

std::vector<std::pair<std::string, std::string>> SecretService::Env() const {
  return {{"DBUS_SESSION_BUS_ADDRESS", address_}};
}

void SecretService::Pause() {
  if (keyring_ > 0) ::kill(keyring_, SIGSTOP);
}

void SecretService::Resume() {
  if (keyring_ > 0) ::kill(keyring_, SIGCONT);
}

void SecretService::End(pid_t* pid) {
  if (*pid <= 0) return;
  ::kill(*pid, SIGTERM);
  int status = 0;
  ::waitpid(*pid, &status, 0);
  *pid = -1;
}

bool SecretService::StartBus() {
  // Only this configuration: no service is started on demand, so that nothing but the
  // daemon below can answer for the store.
  root_.Write("bus.conf",
              "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\""
              " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
              "<busconfig><type>session</type><listen>unix:dir=" +
                  root_.path() +
                  "</listen><auth>EXTERNAL</auth>"
                  "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
                  "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n");
  int fds[2];
  if (::pipe(fds) != 0) {
    error_ = "pipe failed";
    return false;
  }
  const std::string config = "--config-file=" + (root_ / "bus.conf");
  const std::string print = "--print-address=" + std::to_string(fds[1]);
  const std::string log = root_ / "bus.log";
  bus_ = ::fork();
  if (bus_ == 0) {
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    ::close(fds[0]);
    const int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(out, 1);
    ::dup2(out, 2);
    ::execlp("dbus-daemon", "dbus-daemon", config.c_str(), "--nofork", print.c_str(),
             static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(fds[1]);
  char c;
  while (::read(fds[0], &c, 1) == 1 && c != '\n') address_ += c;
  ::close(fds[0]);
  if (address_.empty()) {
    error_ = "dbus-daemon " + config + " --nofork printed no address: " + ReadText(log);
    return false;
  }
  return true;
}

bool SecretService::StartKeyring() {
  int fds[2];
  if (::pipe(fds) != 0) {
    error_ = "pipe failed";
    return false;
  }
  const std::string log = root_ / "keyring.log";
  // Its environment, made before the fork: this process's, with its own home, runtime
  // folder and bus.
  const std::vector<std::pair<std::string, std::string>> own = {
      {"HOME", root_ / "home"},
      {"XDG_DATA_HOME", root_ / "home/data"},
      {"XDG_RUNTIME_DIR", root_ / "run"},
      {"DBUS_SESSION_BUS_ADDRESS", address_}};
  std::vector<std::string> env;
  for (char** entry = environ; *entry; ++entry) {
    const std::string line = *entry;
    bool replaced = false;
    for (const auto& [name, value] : own) replaced |= line.rfind(name + "=", 0) == 0;
    if (!replaced) env.push_back(line);
  }
  for (const auto& [name, value] : own) env.push_back(name + "=" + value);
  std::vector<char*> envp;
  for (std::string& line : env) envp.push_back(line.data());
  envp.push_back(nullptr);
  char arg0[] = "gnome-keyring-daemon", arg1[] = "--foreground", arg2[] = "--unlock",
       arg3[] = "--components=secrets";
  char* argv[] = {arg0, arg1, arg2, arg3, nullptr};
  keyring_ = ::fork();
  if (keyring_ == 0) {
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    ::close(fds[1]);
    ::dup2(fds[0], 0);
    const int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(out, 1);
    ::dup2(out, 2);
    ::execvpe(arg0, argv, envp.data());
    ::_exit(127);
  }
  ::close(fds[0]);
  // The throwaway password of the login keyring, read until the end of input.
  const std::string password = "lumora-test-keyring";
  const bool written =
      ::write(fds[1], password.data(), password.size()) == static_cast<ssize_t>(password.size());
  ::close(fds[1]);
  if (!written) {
    error_ = "gnome-keyring-daemon took no password: " + ReadText(log);
    return false;
  }
  return true;
}

bool SecretService::WaitForName() {
  GError* error = nullptr;
  // A connection of the test's own (not the process's shared session bus): it may
  // close with the bus without ending the process.
  GDBusConnection* bus = g_dbus_connection_new_for_address_sync(
      address_.c_str(),
      static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                        G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
      nullptr, nullptr, &error);
  if (!bus) {
    error_ = std::string("cannot connect to the test's bus: ") + error->message;
    g_error_free(error);
    return false;
  }
  bool owned = false;
  // The daemon's start-up, with a bound far past its usual fraction of a second.
  for (int tries = 0; tries < 1000 && !owned; ++tries) {
    int status = 0;
    if (::waitpid(keyring_, &status, WNOHANG) == keyring_) {
      keyring_ = -1;
      error_ = "gnome-keyring-daemon --foreground --unlock --components=secrets ended (status " +
               std::to_string(status) + "): " + ReadText(root_ / "keyring.log");
      break;
    }
    GVariant* reply = g_dbus_connection_call_sync(
        bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
        "NameHasOwner", g_variant_new("(s)", kBusName), G_VARIANT_TYPE("(b)"),
        G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr);
    if (reply) {
      gboolean has = FALSE;
      g_variant_get(reply, "(b)", &has);
      g_variant_unref(reply);
      owned = has;
    }
    if (!owned) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  g_dbus_connection_close_sync(bus, nullptr, nullptr);
  g_object_unref(bus);
  if (!owned && error_.empty())
    error_ = std::string("gnome-keyring-daemon never took ") + kBusName + ": " +
             ReadText(root_ / "keyring.log");
  return owned;
}
