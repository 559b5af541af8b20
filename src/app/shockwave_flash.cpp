#include "app/shockwave_flash.h"

#include "platform/ansi.h"

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
  if (fs_command_) fs_command_(ansi::FromUtf8Lossy(command), ansi::FromUtf8Lossy(args));
}

void CShockwaveFlash::OnVariableChanged(const std::string& name, const std::string& value) {
  variables_[ansi::FromUtf8Lossy(name)] = ansi::FromUtf8Lossy(value);
}
