// A desktop of the test's own: XDG folders in a temporary folder, a shared MIME
// database made by update-mime-database from a package that gives .sla and .slr files
// types of the test's own, applications (desktop entries with real programs) and the
// default applications of mimeapps.list.
#ifndef LUMORA_TESTS_SUPPORT_TEST_DESKTOP_H_
#define LUMORA_TESTS_SUPPORT_TEST_DESKTOP_H_

#include <string>
#include <utility>
#include <vector>

#include "temp_dir.h"

class TestDesktop {
 public:
  // The types the package gives files ending in ".sla" and ".slr".
  static constexpr const char* kSlaType = "application/x-lumora-test-archive";
  static constexpr const char* kSlrType = "application/x-lumora-test-reading";

  // Makes the folders and the MIME database; false in ok() when update-mime-database
  // failed.
  TestDesktop();

  bool ok() const { return ok_; }
  const TempDir& root() const { return root_; }
  std::string config_home() const { return root_ / "config"; }
  std::string data_home() const { return root_ / "data"; }

  // The XDG variables that point the desktop here (and nowhere else).
  std::vector<std::pair<std::string, std::string>> Env() const;
  // Sets them in this process.
  void Apply() const;

  // Makes an executable program at |relative| (below the root) and returns its path.
  std::string MakeProgram(const std::string& relative) const;
  // Writes the desktop entry |id| (".desktop" included) with the lines of |body| after
  // the group header.
  void AddEntry(const std::string& id, const std::string& body) const;
  // Writes mimeapps.list with these "type=entry" lines as the default applications.
  void SetDefaults(const std::string& lines) const;

 private:
  TempDir root_;
  bool ok_ = false;
};

#endif  // LUMORA_TESTS_SUPPORT_TEST_DESKTOP_H_
