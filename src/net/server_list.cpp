#include "net/server_list.h"

#include "base/ansi.h"
#include "base/files.h"

namespace net {
namespace {

using base::Status;

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsSpace(text.back())) text.remove_suffix(1);
  return text;
}

// A control character would end up in the log, the server choice and a request line.
bool HasControl(std::string_view text) {
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) return true;
  }
  return false;
}

}  // namespace

Status ParseServerLine(std::string_view line, std::string* label, std::string* url) {
  // The line was a C string: it ends at its first zero byte.
  line = line.substr(0, line.find('\0'));
  if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  if (line.size() > CServers::kMaxLineBytes)
    return Status::TooLarge("a line over " + std::to_string(CServers::kMaxLineBytes) + " bytes");
  line = Trim(line);
  const std::size_t bar = ansi::FindChar(line, '|');
  if (bar == std::string_view::npos) return Status::Invalid("no \"|\"");
  const std::string_view left = Trim(line.substr(0, bar));
  const std::string_view right = Trim(line.substr(bar + 1));
  if (left.empty()) return Status::Invalid("no label");
  if (right.empty()) return Status::Invalid("no URL");
  if (HasControl(left) || HasControl(right)) return Status::Invalid("a control character");
  label->assign(left);
  url->assign(right);
  return Status::Ok();
}

CServers::~CServers() { DeleteAll(); }

bool CServers::AddServer(std::string_view label, std::string_view url) {
  return Add(std::make_unique<CServer>(std::string(label), std::string(url)));
}

bool CServers::Add(std::unique_ptr<CServer> server) {
  if (server == nullptr) return false;
  std::lock_guard<std::mutex> hold(lock_);
  servers_.push_back(std::move(server));
  return true;
}

void CServers::FillComboBox(ServerChoice* choice) const {
  if (choice == nullptr) return;
  std::lock_guard<std::mutex> hold(lock_);
  for (const auto& server : servers_) {
    const int item = choice->AddString(server->label());
    choice->SetItemData(item, server.get());
    choice->SetCurSel(item);
  }
}

void CServers::DeleteAll() {
  std::lock_guard<std::mutex> hold(lock_);
  // First to last, as the servers were added.
  for (auto& server : servers_) server.reset();
  servers_.clear();
}

std::size_t CServers::GetCount() const {
  std::lock_guard<std::mutex> hold(lock_);
  return servers_.size();
}

const CServer* CServers::GetAt(std::size_t position) const {
  std::lock_guard<std::mutex> hold(lock_);
  return position < servers_.size() ? servers_[position].get() : nullptr;
}

std::size_t CServers::ReadFile(const std::string& path) {
  std::string contents;
  // A file that cannot be read, is too large or is no file at all adds nothing, as an
  // empty one does: the count tells the caller.
  if (!base::ReadRegularFile(ansi::NativePath(path), kMaxFileBytes, &contents).ok()) return 0;
  std::size_t added = 0;
  std::size_t start = 0;
  for (std::size_t lines = 0; start < contents.size() && lines < kMaxLines; ++lines) {
    std::size_t end = contents.find('\n', start);
    if (end == std::string::npos) end = contents.size();
    std::string label, url;
    if (ParseServerLine(std::string_view(contents).substr(start, end - start), &label, &url).ok() &&
        AddServer(label, url))
      ++added;
    start = end + 1;
  }
  return added;
}

}  // namespace net
