// Where the updater writes the movie's variables (the player wrapper of the main window
// implements it). Names and values in the code page.
#ifndef LUMORA_UPDATE_MOVIE_VARIABLES_H_
#define LUMORA_UPDATE_MOVIE_VARIABLES_H_

#include <string>

namespace update {

class MovieVariables {
 public:
  virtual ~MovieVariables() = default;
  virtual void SetVariable(const std::string& name, const std::string& value) = 0;
};

}  // namespace update

#endif  // LUMORA_UPDATE_MOVIE_VARIABLES_H_
