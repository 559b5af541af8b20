// What the shell's "open" does with a target: start a program, or hand a document or
// a URL to the application the desktop has for it. Both faces decide the same way, so
// that what the automation interface reports is what the desktop would do.
#ifndef LUMORA_OS_SHELL_ACTION_H_
#define LUMORA_OS_SHELL_ACTION_H_

#include <string>

namespace os {

enum class ShellAction { kRun, kOpen };

// "run" or "open", the words of the automation interface.
const char* ShellActionName(ShellAction action);

struct ShellTarget {
  ShellAction action = ShellAction::kOpen;
  // For kRun: the program file to start (|target| itself, or what the search path
  // found for a bare name).
  std::string program;
};

// kRun when |target| names a program that the user may execute: a regular file that is
// a program for this machine (IsProgramFile) with execute permission, given by its
// path or, for a bare name that is no file here, found on the search path. Everything
// else (documents, scripts, URLs, missing files, FIFOs) is kOpen. Never blocks.
[[nodiscard]] ShellTarget ResolveShellTarget(const std::string& target);

// True when the regular file at |path| is a program for this machine: an ELF
// executable or position-independent executable of this machine's class, byte order and
// architecture. Its execute permission is not looked at.
//
// A script starting with "#!" is not a program here: starting it runs its interpreter,
// usually a shell, on text that may have come from the network, and nothing the network
// sends is run through a shell. Scripts open in the desktop's application for their
// type instead, like any other document.
[[nodiscard]] bool IsProgramFile(const std::string& path);

}  // namespace os

#endif  // LUMORA_OS_SHELL_ACTION_H_
