// The bridge to the movie: the player as the host uses it (the movie's path, its
// layout, Play, the movie variables and the movie's commands, FSCommand). The class
// keeps the name CShockwaveFlash that the rest of the host knows the player by.
//
// The host speaks the ANSI code page; the player speaks UTF-8. Every text is
// converted here, in both directions. The wrapper keeps a mirror of the movie's
// variables: what the host sets and what the movie reports it set itself, so that
// GetVariable answers at once.
#ifndef LUMORA_APP_MOVIE_BRIDGE_H_
#define LUMORA_APP_MOVIE_BRIDGE_H_

#include <functional>
#include <map>
#include <string>

#include "platform/player.h"
#include "update/movie_variables.h"

namespace app {

class CShockwaveFlash : public platform::PlayerEvents, public update::MovieVariables {
 public:
  using CommandHandler = std::function<void(const std::string& command, const std::string& args)>;

  explicit CShockwaveFlash(platform::Player& player);
  ~CShockwaveFlash() override;
  CShockwaveFlash(const CShockwaveFlash&) = delete;
  CShockwaveFlash& operator=(const CShockwaveFlash&) = delete;

  // The handler of the movie's FSCommand event (command and arguments in the code page).
  void SetFSCommandHandler(CommandHandler handler) { fs_command_ = std::move(handler); }

  // The full path of the movie file (code page); the player opens it with the
  // ordinary file functions.
  void Movie(const std::string& path);
  void AlignMode(int mode);
  void Scale(const std::string& scale);
  void ScaleMode(int mode);
  void Play();
  void SetVariable(const std::string& name, const std::string& value) override;
  std::string GetVariable(const std::string& name) const;

  const std::string& movie() const { return movie_; }

 private:
  void OnFSCommand(const std::string& command, const std::string& args) override;
  void OnVariableChanged(const std::string& name, const std::string& value) override;

  platform::Player& player_;
  CommandHandler fs_command_;
  std::string movie_;
  int align_mode_ = 0;
  std::string scale_ = "showAll";
  int scale_mode_ = 0;
  std::map<std::string, std::string> variables_;
};

}  // namespace app

#endif  // LUMORA_APP_MOVIE_BRIDGE_H_
