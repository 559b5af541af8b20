// The anchor of start_bench: a program that prints one line and ends, linked with the
// libraries the headless program is made of (GLib, GIO, libcurl, libxml2, TinyXML), so
// that the dynamic loader maps, relocates and initialises them as it does for the
// program, and nothing more.
#include <curl/curl.h>
#include <gio/gio.h>
#include <glib.h>
#include <libxml/xmlversion.h>
#include <tinyxml.h>

#include <cstdio>

namespace {

// One function of each library, never called: the linker keeps a library as a
// dependency of the program only when something of it is used.
using AnyFunction = void (*)();
[[gnu::used]] const AnyFunction kLinked[] = {
    reinterpret_cast<AnyFunction>(&g_main_context_default),
    reinterpret_cast<AnyFunction>(&g_file_new_for_path),
    reinterpret_cast<AnyFunction>(&curl_version),
    reinterpret_cast<AnyFunction>(&xmlCheckVersion),
    reinterpret_cast<AnyFunction>(&TiXmlBase::EncodeString),
};

}  // namespace

int main() {
  std::fputs("{\"anchor\":true}\n", stdout);
  return 0;
}
