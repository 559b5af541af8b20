#include "os/shell_action.h"

#include <elf.h>
#include <glib.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <type_traits>

#include "base/files.h"

namespace os {
namespace {

#if defined(__x86_64__)
constexpr Elf64_Half kMachine = EM_X86_64;
#elif defined(__aarch64__)
constexpr Elf64_Half kMachine = EM_AARCH64;
#elif defined(__i386__)
constexpr Elf32_Half kMachine = EM_386;
#elif defined(__arm__)
constexpr Elf32_Half kMachine = EM_ARM;
#elif defined(__riscv)
constexpr Elf64_Half kMachine = EM_RISCV;
#elif defined(__powerpc64__)
constexpr Elf64_Half kMachine = EM_PPC64;
#elif defined(__s390x__)
constexpr Elf64_Half kMachine = EM_S390;
#else
#error "the ELF machine of this architecture is not known"
#endif

// The ELF header as this machine's programs have it.
using Header = std::conditional_t<sizeof(void*) == 8, Elf64_Ehdr, Elf32_Ehdr>;
constexpr unsigned char kClass = sizeof(void*) == 8 ? ELFCLASS64 : ELFCLASS32;
constexpr unsigned char kData =
    __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__ ? ELFDATA2LSB : ELFDATA2MSB;

}  // namespace

const char* ShellActionName(ShellAction action) {
  return action == ShellAction::kRun ? "run" : "open";
}

bool IsProgramFile(const std::string& path) {
  base::UniqueFd file;
  if (!base::OpenRegularFile(path, &file).ok()) return false;
  Header header;
  std::size_t got = 0;
  while (got < sizeof header) {
    const ssize_t n = read(file.get(), reinterpret_cast<char*>(&header) + got, sizeof header - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    got += static_cast<std::size_t>(n);
  }
  return std::memcmp(header.e_ident, ELFMAG, SELFMAG) == 0 && header.e_ident[EI_CLASS] == kClass &&
         header.e_ident[EI_DATA] == kData && header.e_ident[EI_VERSION] == EV_CURRENT &&
         (header.e_type == ET_EXEC || header.e_type == ET_DYN) && header.e_machine == kMachine;
}

ShellTarget ResolveShellTarget(const std::string& target) {
  ShellTarget resolved;
  if (target.empty()) return resolved;
  std::string candidate;
  if (base::IsReadableFile(target)) {
    candidate = target;
  } else if (target.find('/') == std::string::npos && !base::PathExists(target)) {
    g_autofree gchar* found = g_find_program_in_path(target.c_str());
    if (found != nullptr) candidate = found;
  }
  if (!candidate.empty() && access(candidate.c_str(), X_OK) == 0 && IsProgramFile(candidate)) {
    resolved.action = ShellAction::kRun;
    resolved.program = candidate;
  }
  return resolved;
}

}  // namespace os
