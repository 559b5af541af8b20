// Runs a program of the system or of the project (a script, a tool) to its end, with
// standard input on /dev/null and its output collected, for tests that use a tool the
// way a user or publisher would.
#ifndef LUMORA_TESTS_SUPPORT_COMMAND_H_
#define LUMORA_TESTS_SUPPORT_COMMAND_H_

#include <string>
#include <utility>
#include <vector>

struct CommandRun {
  int exit_code = -1;  // 128 + signal when killed
  std::string out;
  std::string err;
};

struct CommandOptions {
  std::string cwd;                                       // empty: the test's own
  std::vector<std::pair<std::string, std::string>> env;  // set in the child
  std::vector<std::string> unset;                        // taken out of the child's
  int timeout_ms = 120000;  // a bound that only keeps a broken command from hanging
};

// Runs |args| (args[0] looked up in PATH when it holds no "/"). The test fails when
// the command does not end within the bound.
CommandRun RunCommand(const std::vector<std::string>& args, const CommandOptions& options = {});

#endif  // LUMORA_TESTS_SUPPORT_COMMAND_H_
