// The update servers' list file, read whole and line by line.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_files.h"
#include "net/server_list.h"

namespace {

bool HasControl(const std::string& text) {
  for (char c : text)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return true;
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string path = fuzz::WriteScratchFile("servers.txt", data, size);
  net::CServers servers;
  const std::size_t added = servers.ReadFile(path);
  if (added != servers.GetCount()) fuzz::Fail("the count added is not the list's");
  for (std::size_t i = 0; i < servers.GetCount(); ++i) {
    const net::CServer* server = servers.GetAt(i);
    if (server->label().empty() || server->url().empty())
      fuzz::Fail("a server without label or address");
    if (HasControl(server->label()) || HasControl(server->url()))
      fuzz::Fail("a control character in a server");
    if (server->label().size() + server->url().size() >= net::CServers::kMaxLineBytes)
      fuzz::Fail("a server from a line longer than the limit");
  }
  if (servers.GetAt(servers.GetCount()) != nullptr) fuzz::Fail("a server past the end");
  // The whole input as one line.
  std::string label, url;
  if (net::ParseServerLine(std::string_view(reinterpret_cast<const char*>(data), size), &label,
                           &url) &&
      (label.empty() || url.empty()))
    fuzz::Fail("a line taken without label or address");
  return 0;
}
