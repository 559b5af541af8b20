#include "running_lumora.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

}  // namespace

RunningLumora::RunningLumora(const LumoraOptions& options) {
  files_.MakeDir("config");
  const std::string out = files_ / "out", err = files_ / "err";
  const int out_fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  const int err_fd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  int in_pipe[2] = {-1, -1};
  if (out_fd < 0 || err_fd < 0 || pipe2(in_pipe, O_CLOEXEC) != 0) {
    ADD_FAILURE() << "cannot prepare the program's input and output";
    if (out_fd >= 0) close(out_fd);
    if (err_fd >= 0) close(err_fd);
    return;
  }
  const std::string binary = ProgramToRun(options, &linked_);
  signal(SIGPIPE, SIG_IGN);
  pid_ = fork();
  if (pid_ == 0) {
    // The program ends with the test that started it, however the test ends.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    dup2(in_pipe[0], 0);
    dup2(out_fd, 1);
    dup2(err_fd, 2);
    ExecProgram(binary, options, files_ / "config");
  }
  close(in_pipe[0]);
  close(out_fd);
  close(err_fd);
  input_ = in_pipe[1];
  if (pid_ < 0) {
    ADD_FAILURE() << "fork failed";
    CloseInput();
  }
}

RunningLumora::~RunningLumora() {
  if (pid_ > 0 && exit_code_ < 0) Kill(SIGKILL);
  CloseInput();
  if (!linked_.empty()) unlink(linked_.c_str());
}

bool RunningLumora::Send(const std::string& line) {
  if (input_ < 0) return false;
  const std::string bytes = line + "\n";
  std::size_t written = 0;
  while (written < bytes.size()) {
    const ssize_t n = write(input_, bytes.data() + written, bytes.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    written += static_cast<std::size_t>(n);
  }
  return true;
}

void RunningLumora::CloseInput() {
  if (input_ >= 0) close(input_);
  input_ = -1;
}

bool RunningLumora::WaitForOutput(const std::vector<std::string>& texts, int timeout_ms) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    const std::string output = Output();
    for (const std::string& text : texts)
      if (output.find(text) != std::string::npos) return true;
    if (Clock::now() >= deadline || Reap(WNOHANG) >= 0) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

int RunningLumora::Kill(int signal_number) {
  if (pid_ > 0 && exit_code_ < 0) kill(pid_, signal_number);
  return Reap(0);
}

int RunningLumora::Wait(int timeout_ms) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  while (Reap(WNOHANG) < 0) {
    if (Clock::now() >= deadline) {
      ADD_FAILURE() << "lumora did not end in time";
      return Kill(SIGKILL);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return exit_code_;
}

int RunningLumora::Reap(int options) {
  if (pid_ <= 0 || exit_code_ >= 0) return exit_code_;
  int status = 0;
  pid_t done;
  do {
    done = waitpid(pid_, &status, options);
  } while (done < 0 && errno == EINTR);
  if (done != pid_) return -1;
  exit_code_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return exit_code_;
}

std::string RunningLumora::Output() const { return files_.Read("out"); }
std::string RunningLumora::Errors() const { return files_.Read("err"); }
