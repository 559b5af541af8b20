#include "test_desktop.h"

#include <sys/stat.h>

#include <cstdlib>
#include <string>

TestDesktop::TestDesktop() {
  root_.MakeDir("config");
  root_.MakeDir("config-dirs");
  root_.MakeDir("data-dirs");
  root_.MakeDir("data/applications");
  root_.Write("data/mime/packages/lumora-test.xml",
              std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                          "<mime-info xmlns=\"http://www.freedesktop.org/standards/"
                          "shared-mime-info\">\n"
                          "  <mime-type type=\"") +
                  kSlaType +
                  "\">\n"
                  "    <comment>Shelf archive</comment><glob pattern=\"*.sla\"/>\n"
                  "  </mime-type>\n"
                  "  <mime-type type=\"" +
                  kSlrType +
                  "\">\n"
                  "    <comment>Shelf reading</comment><glob pattern=\"*.slr\"/>\n"
                  "  </mime-type>\n"
                  "</mime-info>\n");
  const std::string command =
      "update-mime-database '" + (root_ / "data/mime") + "' >/dev/null 2>&1";
  ok_ = std::system(command.c_str()) == 0;
}

std::vector<std::pair<std::string, std::string>> TestDesktop::Env() const {
  return {{"XDG_CONFIG_HOME", root_ / "config"},
          {"XDG_CONFIG_DIRS", root_ / "config-dirs"},
          {"XDG_DATA_HOME", root_ / "data"},
          {"XDG_DATA_DIRS", root_ / "data-dirs"},
          {"XDG_CURRENT_DESKTOP", ""}};
}

void TestDesktop::Apply() const {
  for (const auto& [name, value] : Env()) setenv(name.c_str(), value.c_str(), 1);
}

std::string TestDesktop::MakeProgram(const std::string& relative) const {
  root_.Write(relative, "#!/bin/sh\nexit 0\n");
  const std::string path = root_ / relative;
  chmod(path.c_str(), 0755);
  return path;
}

void TestDesktop::AddEntry(const std::string& id, const std::string& body) const {
  root_.Write("data/applications/" + id, "[Desktop Entry]\nType=Application\n" + body);
}

void TestDesktop::SetDefaults(const std::string& lines) const {
  root_.Write("config/mimeapps.list", "[Default Applications]\n" + lines);
}
