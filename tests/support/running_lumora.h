// The program on its automation interface, running for as long as a test wants: lines
// written to it one at a time while it works, its output collected in files, and ended
// by any signal at a moment the test chooses (SIGKILL plays a crash or a power cut).
#ifndef LUMORA_TESTS_SUPPORT_RUNNING_LUMORA_H_
#define LUMORA_TESTS_SUPPORT_RUNNING_LUMORA_H_

#include <sys/types.h>
#include <sys/wait.h>

#include <string>
#include <vector>

#include "lumora_process.h"
#include "temp_dir.h"

class RunningLumora {
 public:
  // Starts the program as RunLumora does (`--headless` unless |options| says not): the
  // copy linked into |options.cwd| when that is a temporary folder, the shop and login
  // service nowhere unless named.
  explicit RunningLumora(const LumoraOptions& options);
  // Kills the program when it still runs and waits for it.
  ~RunningLumora();
  RunningLumora(const RunningLumora&) = delete;
  RunningLumora& operator=(const RunningLumora&) = delete;

  bool started() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }
  // True while the program has not ended.
  bool Running() { return pid_ > 0 && Reap(WNOHANG) < 0; }
  // Writes |line| and a line end; false once the program no longer reads.
  bool Send(const std::string& line);
  // Closes the program's input: the end of the automation input quits it.
  void CloseInput();
  // Waits until the standard output holds one of |texts|; false when |timeout_ms| ran
  // out or the program ended first.
  bool WaitForOutput(const std::vector<std::string>& texts, int timeout_ms);
  // Sends |signal_number| and waits for the end. The exit code, 128 + signal when the
  // program was ended by one.
  int Kill(int signal_number);
  // Waits for the end (killed with SIGKILL after |timeout_ms|); the exit code as Kill's.
  int Wait(int timeout_ms);

  std::string Output() const;
  std::string Errors() const;

 private:
  int Reap(int options);

  TempDir files_;  // the output, the errors and the run's own configuration folder
  std::string linked_;
  pid_t pid_ = -1;
  int input_ = -1;
  int exit_code_ = -1;
};

#endif  // LUMORA_TESTS_SUPPORT_RUNNING_LUMORA_H_
