// Test support for driving the program's movie through WebKitWebDriver: a client of the
// driver's HTTP interface (the driver itself started on a free port), and the small
// file and text helpers the movie's tests and benchmark share.
#ifndef LUMORA_TESTS_SUPPORT_WEBDRIVER_CLIENT_H_
#define LUMORA_TESTS_SUPPORT_WEBDRIVER_CLIENT_H_

#include <arpa/inet.h>
#include <glib.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/vendor_process.h"

namespace webdriver {

using Json = nlohmann::json;
namespace fs = std::filesystem;

inline constexpr const char* kElementKey = "element-6066-11e4-a52e-4f735466cecf";

// WebDriver's codes of the named keys.
inline constexpr const char* kTab = "\xee\x80\x84";        // U+E004
inline constexpr const char* kEnter = "\xee\x80\x87";      // U+E007
inline constexpr const char* kEscape = "\xee\x80\x8c";     // U+E00C
inline constexpr const char* kEnd = "\xee\x80\x90";        // U+E010
inline constexpr const char* kArrowUp = "\xee\x80\x93";    // U+E013
inline constexpr const char* kArrowDown = "\xee\x80\x95";  // U+E015
// The modifiers, held through a click or another key.
inline constexpr const char* kShiftKey = "\xee\x80\x88";    // U+E008
inline constexpr const char* kControlKey = "\xee\x80\x89";  // U+E009

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

inline void WriteFile(const std::string& path, const std::string& bytes) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream out(path, std::ios::binary);
  out << bytes;
}

// UTF-8 to the catalogues' GB2312 (GBK) bytes.
inline std::string Gbk(const std::string& utf8) {
  gsize written = 0;
  gchar* bytes = g_convert(utf8.data(), static_cast<gssize>(utf8.size()), "GBK", "UTF-8", nullptr,
                           &written, nullptr);
  std::string result = bytes ? std::string(bytes, written) : std::string();
  g_free(bytes);
  return result;
}

inline int FreePort() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  socklen_t size = sizeof address;
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
  close(fd);
  return ntohs(address.sin_port);
}

// Waits (a generous bound, not a timing) until |ready| holds; false when it never did.
inline bool Eventually(const std::function<bool()>& ready, int seconds = 30) {
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (std::chrono::steady_clock::now() < end) {
    if (ready()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return ready();
}

// WebKitWebDriver on a free port of loopback, spoken to in plain HTTP.
//
// The driver, the program it starts and the program's WebKit processes form a process
// group of their own, and every one of them has ended when the Driver is gone. Ending
// the driver alone is not enough: it kills the program it started from a worker thread,
// after it has already answered the session's end, so a driver ended at once can leave
// the program running on, an orphan holding the test's standard output open (and the
// test runner waiting on it until its time-out).
class Driver {
 public:
  // The driver starts the program in its own folder, |cwd|, as a user would.
  explicit Driver(const std::string& cwd) {
    // Orphans of the group come to this process, which reaps them below.
    prctl(PR_SET_CHILD_SUBREAPER, 1);
    // The port is free when chosen, but another program may take it before the driver
    // does; then the driver ends at once, and another port is tried.
    const pid_t parent = getpid();
    for (int attempt = 0; attempt < 3 && !ready_; ++attempt) {
      port_ = FreePort();
      pid_ = fork();
      if (pid_ == 0) {
        setpgid(0, 0);
        // A test process that is killed cannot end the group: the driver then ends with
        // it rather than live on holding the test's output and the build lock open.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent) _exit(126);
        if (chdir(cwd.c_str()) != 0) _exit(126);
        std::string port = "--port=" + std::to_string(port_);
        execlp("WebKitWebDriver", "WebKitWebDriver", port.c_str(), static_cast<char*>(nullptr));
        _exit(127);
      }
      if (pid_ < 0) return;
      setpgid(pid_, pid_);
      ready_ = Eventually([this] {
                 return Ended() || (Listening() && Request("GET", "/status").contains("value"));
               }) &&
               !Ended();
      if (!ready_) EndGroup();
    }
  }
  ~Driver() {
    if (!session_.empty()) Request("DELETE", "/session/" + session_);
    if (pid_ > 0) EndGroup();
  }
  Driver(const Driver&) = delete;
  Driver& operator=(const Driver&) = delete;

  bool ready() const { return ready_; }
  // The driver's process, whose id is also its process group's.
  pid_t pid() const { return pid_; }

  // True once something accepts connections on the driver's port.
  bool Listening() const {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port_));
    bool ok = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return ok;
  }

  Json Request(const std::string& method, const std::string& path, const Json& body = nullptr) {
    std::string payload = body.is_null() ? std::string() : body.dump();
    std::string request = method + " " + path +
                          " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port_) +
                          "\r\nConnection: close\r\n";
    if (method == "POST") {
      request += "Content-Type: application/json; charset=utf-8\r\nContent-Length: " +
                 std::to_string(payload.size()) + "\r\n";
    }
    request += "\r\n" + payload;
    HttpReply reply = Exchange(port_, request);
    Json parsed = Json::parse(reply.body, nullptr, false);
    return parsed.is_discarded() ? Json{{"raw", reply.raw}} : parsed;
  }

  // Starts a session on |program| with |args|; the answer's "value".
  Json NewSession(const std::string& program, const std::vector<std::string>& args) {
    Json options = {{"binary", program}, {"args", args}};
    Json reply =
        Request("POST", "/session",
                {{"capabilities", {{"alwaysMatch", {{"webkitgtk:browserOptions", options}}}}}});
    if (reply["value"].contains("sessionId")) session_ = reply["value"]["sessionId"];
    return reply;
  }
  const std::string& session() const { return session_; }

  Json Session(const std::string& method, const std::string& path, const Json& body = nullptr) {
    return Request(method, "/session/" + session_ + path, body);
  }
  // Runs |script| in the page and returns its value.
  Json Eval(const std::string& script, const Json& args = Json::array()) {
    return Session("POST", "/execute/sync", {{"script", script}, {"args", args}})["value"];
  }
  std::string Text(const std::string& css) {
    Json v = Eval("var e = document.querySelector(arguments[0]); return e ? e.textContent : null;",
                  {css});
    return v.is_string() ? v.get<std::string>() : std::string("<none>");
  }
  // The element id of |css|, empty when there is none.
  std::string Find(const std::string& css) {
    Json v = Session("POST", "/element", {{"using", "css selector"}, {"value", css}})["value"];
    return v.is_object() && v.contains(kElementKey) ? v[kElementKey].get<std::string>() : "";
  }
  // A real click through the driver; false when the element is missing or the driver
  // refused it (hidden, covered).
  bool Click(const std::string& css) {
    std::string id = Find(css);
    if (id.empty()) return false;
    Json v = Session("POST", "/element/" + id + "/click", Json::object())["value"];
    return v.is_null();
  }
  bool Type(const std::string& css, const std::string& text) {
    std::string id = Find(css);
    if (id.empty()) return false;
    Json v = Session("POST", "/element/" + id + "/value", {{"text", text}})["value"];
    return v.is_null();
  }
  // Presses and lets go of each key of |keys| in turn (WebDriver's key codes, U+E000
  // and up, for the named keys) where the focus is, as the keyboard would.
  bool Keys(const std::vector<std::string>& keys) {
    Json steps = Json::array();
    for (const std::string& key : keys) {
      steps.push_back({{"type", "keyDown"}, {"value", key}});
      steps.push_back({{"type", "keyUp"}, {"value", key}});
    }
    Json actions = {
        {"actions", Json::array({{{"type", "key"}, {"id", "keyboard"}, {"actions", steps}}})}};
    return Session("POST", "/actions", actions)["value"].is_null();
  }
  // Presses |key| while |modifier| is held, as a shortcut is typed.
  bool Chord(const std::string& modifier, const std::string& key) {
    Json steps = Json::array({{{"type", "keyDown"}, {"value", modifier}},
                              {{"type", "keyDown"}, {"value", key}},
                              {{"type", "keyUp"}, {"value", key}},
                              {{"type", "keyUp"}, {"value", modifier}}});
    Json actions = {
        {"actions", Json::array({{{"type", "key"}, {"id", "keyboard"}, {"actions", steps}}})}};
    return Session("POST", "/actions", actions)["value"].is_null();
  }
  // A real click on |css| with |modifier| held down through it: the key and the mouse
  // are two sources of one action list, whose steps go together tick by tick.
  bool ClickWith(const std::string& modifier, const std::string& css) {
    std::string id = Find(css);
    if (id.empty()) return false;
    const Json pause = {{"type", "pause"}, {"duration", 0}};
    Json keys = {{"type", "key"},
                 {"id", "keyboard"},
                 {"actions", Json::array({{{"type", "keyDown"}, {"value", modifier}},
                                          pause,
                                          pause,
                                          pause,
                                          {{"type", "keyUp"}, {"value", modifier}}})}};
    Json mouse = {
        {"type", "pointer"},
        {"id", "mouse"},
        {"parameters", {{"pointerType", "mouse"}}},
        {"actions",
         Json::array(
             {pause,
              {{"type", "pointerMove"}, {"origin", {{kElementKey, id}}}, {"x", 0}, {"y", 0}},
              {{"type", "pointerDown"}, {"button", 0}},
              {{"type", "pointerUp"}, {"button", 0}},
              pause})}};
    return Session("POST", "/actions", {{"actions", Json::array({keys, mouse})}})["value"]
        .is_null();
  }
  // Saves a screenshot of the page as PNG at |path|; false when none came.
  bool Screenshot(const std::string& path) {
    // The driver takes its picture with the page's next painted frame. Without a GPU the
    // view paints without compositing, and a page at rest paints none: a transparent
    // pixel-sized mark, put in and taken out every 100 ms for two seconds while the
    // request is on its way, makes it paint frames that look the same.
    Eval("var m = document.createElement('div'), n = 0;"
         "m.style.cssText = 'position:fixed;left:0;top:0;width:1px;height:1px;background:transparent';"
         "(function blink() { if (m.parentNode) m.remove(); else document.body.appendChild(m);"
         "  if (++n < 20) setTimeout(blink, 100); })();");
    Json v = Session("GET", "/screenshot")["value"];
    if (!v.is_string()) return false;
    gsize size = 0;
    guchar* png = g_base64_decode(v.get<std::string>().c_str(), &size);
    WriteFile(path, std::string(reinterpret_cast<char*>(png), size));
    g_free(png);
    return size > 8;
  }

 private:
  // True once the driver's own process has ended (it is left for EndGroup to reap).
  bool Ended() const {
    siginfo_t info{};
    return waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) != 0 ||
           info.si_pid != 0;
  }
  // Asks every process of the group to end, and reaps them all: the driver, and the
  // program and its WebKit processes once they are orphans of this process. Those still
  // there after a generous bound are killed.
  void EndGroup() {
    kill(-pid_, SIGTERM);
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    bool killed = false;
    for (;;) {
      int status = 0;
      pid_t done = waitpid(-pid_, &status, WNOHANG);
      if (done < 0 && errno == ECHILD) break;  // none of the group is left
      if (done > 0) continue;
      if (!killed && std::chrono::steady_clock::now() > end) {
        kill(-pid_, SIGKILL);
        killed = true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    pid_ = -1;
  }

  int port_ = 0;
  pid_t pid_ = -1;
  bool ready_ = false;
  std::string session_;
};

// Saves a screenshot of |driver|'s page as |folder|/|name|.png, with a copy in the
// folder that LUMORA_KEEP_SHOTS names, if any, for a person to look at. The path; the
// test fails when no screenshot came.
inline std::string KeepShot(Driver& driver, const std::string& folder, const std::string& name) {
  const std::string path = folder + "/" + name + ".png";
  EXPECT_TRUE(driver.Screenshot(path)) << name;
  if (const char* keep = std::getenv("LUMORA_KEEP_SHOTS")) {
    std::error_code ec;
    fs::copy_file(path, std::string(keep) + "/" + name + ".png",
                  fs::copy_options::overwrite_existing, ec);
  }
  return path;
}

}  // namespace webdriver

#endif  // LUMORA_TESTS_SUPPORT_WEBDRIVER_CLIENT_H_
