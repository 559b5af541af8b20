#include "app/movie_bridge.h"

#include "base/ansi.h"

namespace app {

namespace {

// The movie's texts are C strings: a text from the page ends at its first zero byte,
// whatever followed it.
std::string FromMovie(const std::string& utf8) {
  return ansi::FromUtf8Lossy(std::string_view(utf8).substr(0, utf8.find('\0')));
}

}  // namespace

CShockwaveFlash::CShockwaveFlash(platform::Player& player) : player_(player) {
  player_.SetEvents(this);
}

CShockwaveFlash::~CShockwaveFlash() { player_.SetEvents(nullptr); }

void CShockwaveFlash::Movie(const std::string& path) {
  movie_ = path;
  player_.LoadMovie(ansi::NativePath(path));
}

void CShockwaveFlash::AlignMode(int mode) {
  align_mode_ = mode;
  player_.SetLayout(align_mode_, scale_, scale_mode_);
}

void CShockwaveFlash::Scale(const std::string& scale) {
  scale_ = scale;
  player_.SetLayout(align_mode_, scale_, scale_mode_);
}

void CShockwaveFlash::ScaleMode(int mode) {
  scale_mode_ = mode;
  player_.SetLayout(align_mode_, scale_, scale_mode_);
}

void CShockwaveFlash::Play() { player_.Play(); }

void CShockwaveFlash::SetVariable(const std::string& name, const std::string& value) {
  variables_[name] = value;
  player_.SetVariable(ansi::ToUtf8Lossy(name), ansi::ToUtf8Lossy(value));
}

std::string CShockwaveFlash::GetVariable(const std::string& name) const {
  auto it = variables_.find(name);
  return it == variables_.end() ? std::string() : it->second;
}

void CShockwaveFlash::OnFSCommand(const std::string& command, const std::string& args) {
  if (fs_command_) fs_command_(FromMovie(command), FromMovie(args));
}

void CShockwaveFlash::OnVariableChanged(const std::string& name, const std::string& value) {
  variables_[FromMovie(name)] = FromMovie(value);
}

}  // namespace app
