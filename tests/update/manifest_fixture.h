// A manifest's surroundings in a temporary folder: the four base folders and the index
// of installed versions, and helpers that write manifests and local files.
#ifndef LUMORA_TESTS_UPDATE_MANIFEST_FIXTURE_H_
#define LUMORA_TESTS_UPDATE_MANIFEST_FIXTURE_H_

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "../support/temp_dir.h"
#include "base/ansi.h"
#include "update/update_files.h"

namespace update_test {

inline std::string Gb(const char* utf8) { return ansi::FromUtf8Lossy(utf8); }

// A manifest declared GB2312 whose Product holds |files| (already in the code page).
inline std::string Manifest(const std::string& files) {
  return "<?xml version=\"1.0\" encoding=\"GB2312\" ?> \r\n<xmlRoot keyname=\"KeyValue\">\r\n"
         "\t<Product productname=\"P\" createdate=\"2024-01-01 00:00:00\" filenum=\"1\">\r\n" +
         files + "\t</Product>\r\n</xmlRoot>\r\n";
}

// One File element holding |children|.
inline std::string File(const std::string& children) { return "<File>" + children + "</File>\n"; }

inline std::string Child(const std::string& name, const std::string& value) {
  return "<" + name + ">" + value + "</" + name + ">";
}

class ManifestTest : public ::testing::Test {
 protected:
  ManifestTest() {
    dir_.MakeDir("prog");
    dir_.MakeDir("data");
    folders_.current_dir = dir_ / "prog";
    folders_.windows_dir = dir_ / "data/vellari/windows";
    folders_.system_dir = dir_ / "data/vellari/system";
    folders_.app_data_dir = dir_ / "data";
    folders_.version_index = dir_ / "data/vellari/installed-versions.txt";
  }

  // Loads |manifest| written as "manifest.xml" into |files|.
  bool LoadText(update::CUpdateFiles* files, const std::string& manifest) {
    dir_.Write("manifest.xml", manifest);
    return files->Load(dir_ / "manifest.xml");
  }

  // Sets the last-write time of |path| to |seconds| and |nanoseconds| since 1970.
  static void SetTime(const std::string& path, time_t seconds, long nanoseconds = 0) {
    struct timespec times[2] = {{seconds, nanoseconds}, {seconds, nanoseconds}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
  }

  TempDir dir_;
  update::BaseFolders folders_;
};

}  // namespace update_test

#endif  // LUMORA_TESTS_UPDATE_MANIFEST_FIXTURE_H_
