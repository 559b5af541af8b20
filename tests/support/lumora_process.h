// Runs the built program on its automation interface: starts `lumora --headless`,
// writes a script of JSON lines to it, closes its input and collects every line it
// writes until it exits.
#ifndef LUMORA_TESTS_SUPPORT_LUMORA_PROCESS_H_
#define LUMORA_TESTS_SUPPORT_LUMORA_PROCESS_H_

#include <functional>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <utility>
#include <vector>

using Json = nlohmann::json;

struct LumoraRun {
  std::vector<Json> events;      // every output line, parsed
  std::vector<std::string> raw;  // every output line as written
  std::string stderr_text;
  int exit_code = -1;

  // The events with this key, in order.
  std::vector<Json> All(const std::string& key) const;
  // The value of the last setVariable of |name| ("<unset>" when none).
  std::string Variable(const std::string& name) const;
  // Index of the first event with |key| (events.size() when none).
  std::size_t IndexOf(const std::string& key, std::size_t from = 0) const;
};

// The built program copied into a temporary folder of its own, as a user would run
// it; made once per test process and removed when it ends.
const std::string& ProgramCopy();

// Copies the built program and its desktop module into |folder|, as an installation
// holds them; returns the program's path there.
std::string InstallProgram(const std::string& folder);

// The files mapped into process |pid| (the paths of /proc/PID/maps), each once.
std::set<std::string> MappedFiles(int pid);

// A point of the script where the run waits for the program: the lines from
// |before_line| on are written once an output line satisfies |ready| (each line
// satisfies one gate at most, gates in script order). A gate never passed fails the run.
struct ScriptGate {
  std::size_t before_line = 0;
  std::function<bool(const Json&)> ready;
};

struct LumoraOptions {
  std::string binary;  // defaults to ProgramCopy()
  std::vector<std::string> args;
  std::string cwd;
  std::vector<std::pair<std::string, std::string>> env;
  int timeout_ms = 30000;
  bool close_stdin = false;  // start with standard input closed (the script is not sent)
  bool headless = true;      // started with --headless
  // The bytes a file may grow to (RLIMIT_FSIZE, as "ulimit -f" sets it); -1: none set.
  long long file_size_limit = -1;
  std::vector<ScriptGate> gates;
};

// The program file a run of |options| starts: the copy linked into the run's own
// temporary folder when it runs in one (|linked| names the link then, to be removed
// after the run; empty otherwise).
std::string ProgramToRun(const LumoraOptions& options, std::string* linked);

// In a child process: goes into the run's folder, sets its environment (|config_home|
// as XDG_CONFIG_HOME unless |options| names another) and replaces the process with
// `|binary| [--headless] ARGS...`. Never returns.
[[noreturn]] void ExecProgram(const std::string& binary, const LumoraOptions& options,
                              const std::string& config_home);

// Runs the program with |script| as its input. Each element is written as one line.
LumoraRun RunLumora(const LumoraOptions& options, const std::vector<std::string>& script);

#endif  // LUMORA_TESTS_SUPPORT_LUMORA_PROCESS_H_
