// The movie player: plays the user-interface movie, lets the host set and read movie
// variables, and raises the movie's commands. All text here is UTF-8.
#ifndef LUMORA_PLATFORM_PLAYER_H_
#define LUMORA_PLATFORM_PLAYER_H_

#include <string>

namespace platform {

class PlayerEvents {
 public:
  virtual ~PlayerEvents() = default;
  // The movie asks the host for work. Runs on the main loop; the movie waits for it.
  virtual void OnFSCommand(const std::string& command, const std::string& args) = 0;
  // The movie changed one of its own variables.
  virtual void OnVariableChanged(const std::string& name, const std::string& value) = 0;
};

class Player {
 public:
  virtual ~Player() = default;

  virtual void SetEvents(PlayerEvents* events) = 0;
  // Opens the movie at |path| with the ordinary file functions and starts loading it.
  // False when the file cannot be read (the player then shows nothing).
  virtual bool LoadMovie(const std::string& path) = 0;
  // Alignment (5: left and top), scale ("noScale") and scale mode (3: none).
  virtual void SetLayout(int align_mode, const std::string& scale, int scale_mode) = 0;
  virtual void Play() = 0;
  // Visible to the movie at once.
  virtual void SetVariable(const std::string& name, const std::string& value) = 0;
};

}  // namespace platform

#endif  // LUMORA_PLATFORM_PLAYER_H_
