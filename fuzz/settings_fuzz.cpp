// The settings file: read, its file-handler record rewritten, the "系统设置" values
// stored, and read back.
#include <cstddef>
#include <cstdint>
#include <string>

#include "base/status.h"
#include "fuzz_files.h"
#include "os/system_entries.h"
#include "settings/settings_store.h"

namespace {

// The desktop's records, played: every document type opens with one application.
class PlayedEntries : public os::SystemEntries {
 public:
  base::Status SetAutostart(bool, const std::string&) override { return base::Status::Ok(); }
  base::Status FindDefaultHandler(const std::string& extension, os::FileHandler* out) override {
    *out = {"reader", "/usr/bin/reader %f " + extension};
    return base::Status::Ok();
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string path = fuzz::WriteScratchFile("vellariInfo.xml", data, size);
  PlayedEntries entries;
  settings::CSettingsStore store(entries);
  if (!store.Load(path.c_str())) return 0;
  const char* item = settings::CSettingsStore::kItemPath;
  std::string sound;
  const bool has_sound = store.GetAttribute(item, "sound", "value", &sound);

  store.RecordFileHandlers(path.c_str());
  // "系统设置" with sound on, autorun off and the web setting on.
  store.ApplySystemSettings("sound=1|autorun=0|websetting=1");

  // Whatever was written reads back.
  settings::CSettingsStore again(entries);
  if (!again.Load(path.c_str())) fuzz::Fail("a saved settings file not read back");
  std::string now;
  if (again.GetAttribute(item, "sound", "value", &now) != has_sound)
    fuzz::Fail("the sound setting came or went");
  if (has_sound && store.IsLoaded() && now != "1") fuzz::Fail("the sound setting not stored");
  return 0;
}
