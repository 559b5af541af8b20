// An Xvfb display of the test's own, named in DISPLAY while it lives: what the program
// shows there is the test's alone, whatever else runs on the machine.
#ifndef LUMORA_TESTS_SUPPORT_XVFB_DISPLAY_H_
#define LUMORA_TESTS_SUPPORT_XVFB_DISPLAY_H_

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

class XvfbDisplay {
 public:
  // Starts Xvfb with one screen of |width| x |height|; ready() once it answered.
  XvfbDisplay(int width, int height) {
    const char* old = std::getenv("DISPLAY");
    if (old != nullptr) old_display_ = old;
    int fds[2];
    if (pipe(fds) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      // The display ends with the test that started it, however the test ends.
      prctl(PR_SET_PDEATHSIG, SIGKILL);
      close(fds[0]);
      std::string fd = std::to_string(fds[1]);
      std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
      // -noreset: the server does not start over when its last client leaves, when a
      // program started next could find it unable to take a connection.
      execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", screen.c_str(), "-nolisten",
             "tcp", "-noreset", static_cast<char*>(nullptr));
      _exit(127);
    }
    close(fds[1]);
    std::string number;
    char c;
    while (read(fds[0], &c, 1) == 1 && c != '\n') number += c;
    close(fds[0]);
    if (number.empty()) return;
    name_ = ":" + number;
    setenv("DISPLAY", name_.c_str(), 1);
    ready_ = true;
  }
  ~XvfbDisplay() {
    if (old_display_.empty())
      unsetenv("DISPLAY");
    else
      setenv("DISPLAY", old_display_.c_str(), 1);
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      int status = 0;
      waitpid(pid_, &status, 0);
    }
  }
  XvfbDisplay(const XvfbDisplay&) = delete;
  XvfbDisplay& operator=(const XvfbDisplay&) = delete;

  bool ready() const { return ready_; }
  // The display's name (":N").
  const std::string& name() const { return name_; }

 private:
  pid_t pid_ = -1;
  bool ready_ = false;
  std::string name_;
  std::string old_display_;
};

#endif  // LUMORA_TESTS_SUPPORT_XVFB_DISPLAY_H_
