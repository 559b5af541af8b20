// A fresh temporary folder, removed with everything in it when the object goes.
#ifndef LUMORA_TESTS_SUPPORT_TEMP_DIR_H_
#define LUMORA_TESTS_SUPPORT_TEMP_DIR_H_

#include <string>

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  // path() + "/" + relative.
  std::string operator/(const std::string& relative) const { return path_ + "/" + relative; }

  // Writes |content| to |relative|, making its folders.
  void Write(const std::string& relative, const std::string& content) const;
  std::string Read(const std::string& relative) const;
  void MakeDir(const std::string& relative) const;

 private:
  std::string path_;
};

#endif  // LUMORA_TESTS_SUPPORT_TEMP_DIR_H_
