// lumora [--headless [--work-area WxH+X+Y]] [SERVER-LIST-URL MODE]
//
// The words after the options form the program's own command line, joined by single
// spaces (give it as one quoted argument to keep other spacing).
#include <cstdio>
#include <cstring>
#include <string>

#include "app/deployment_settings.h"
#include "app/lumora_app.h"
#include "platform/folders.h"
#include "platform/platform.h"

namespace {

bool ParseWorkArea(const char* text, platform::Rect* rect) {
  int w, h, x, y;
  char tail;
  if (std::sscanf(text, "%dx%d+%d+%d%c", &w, &h, &x, &y, &tail) != 4 || w <= 0 || h <= 0)
    return false;
  *rect = platform::Rect{x, y, x + w, y + h};
  return true;
}

void Usage(std::FILE* to) {
  std::fputs(
      "usage: lumora [--headless [--work-area WxH+X+Y]] [SERVER-LIST-URL MODE]\n"
      "  --headless         run without a display, driven by JSON Lines on stdin/stdout\n"
      "  --work-area GEOM   the headless work area (default 1280x1024+0+0)\n",
      to);
}

}  // namespace

int main(int argc, char** argv) {
  bool headless = false;
  platform::Rect work_area{0, 0, 1280, 1024};
  std::string command_line;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--headless") == 0) {
      headless = true;
    } else if (std::strcmp(argv[i], "--work-area") == 0) {
      if (i + 1 >= argc || !ParseWorkArea(argv[i + 1], &work_area)) {
        std::fputs("lumora: --work-area takes WxH+X+Y, e.g. 1280x1024+0+0\n", stderr);
        return 2;
      }
      ++i;
    } else if (std::strcmp(argv[i], "--help") == 0) {
      Usage(stdout);
      return 0;
    } else {
      if (!command_line.empty()) command_line += ' ';
      command_line += argv[i];
    }
  }

  std::unique_ptr<platform::Platform> face;
  if (headless) {
    face = platform::CreateHeadlessPlatform(0, stdout, work_area);
  } else {
    std::string error;
    face = platform::CreateGtkPlatform(&argc, &argv, &error);
    if (!face) {
      std::fprintf(stderr, "lumora: %s\n", error.c_str());
      return 1;
    }
  }
  CLumoraApp app(DeploymentSettings::Load(platform::ProgramFile()));
  return app.InitInstance(*face, command_line);
}
