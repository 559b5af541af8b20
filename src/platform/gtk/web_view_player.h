// The player on the desktop: a WebKitGTK web view playing the HTML5 movie.
//
// The movie file is read through the ordinary file functions and served to the view
// from memory under the "lumora" URI scheme. The bridge: the page posts JSON texts to
// the script message handler "lumora" ({"fscommand": C, "args": A} or
// {"setVariable": {"name": N, "value": V}}); the host calls the page's
// lumora.setVariable(name, value). Under the same address the movie reads the files of
// the data folder ("lumora://movie/data/...") and of the program folder
// ("lumora://movie/current/...") that the host named in MyAppDataDir and CurrentDir,
// read-only, and nothing else (movie_files.h). Variables set before the page has loaded are
// handed over, in order, once it has.
//
// A player made for automation lets the web context accept an automation session
// (WebKitWebDriver starts the program with WEBKIT_INSPECTOR_SERVER set) and answers the
// session's "create-web-view" with its own view, made controlled by automation, so a
// WebDriver session drives the movie itself.
#ifndef LUMORA_PLATFORM_GTK_WEB_VIEW_PLAYER_H_
#define LUMORA_PLATFORM_GTK_WEB_VIEW_PLAYER_H_

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/player.h"

typedef struct _GtkWidget GtkWidget;
typedef struct _WebKitWebView WebKitWebView;
typedef struct _WebKitURISchemeRequest WebKitURISchemeRequest;
typedef struct _WebKitJavascriptResult WebKitJavascriptResult;
typedef struct _WebKitUserContentManager WebKitUserContentManager;
typedef struct _WebKitWebContext WebKitWebContext;
typedef struct _WebKitAutomationSession WebKitAutomationSession;

namespace platform {

class WebViewPlayer : public Player {
 public:
  explicit WebViewPlayer(bool automation = false);
  ~WebViewPlayer() override;
  WebViewPlayer(const WebViewPlayer&) = delete;
  WebViewPlayer& operator=(const WebViewPlayer&) = delete;

  GtkWidget* widget() const;

  void SetEvents(PlayerEvents* events) override { events_ = events; }
  bool LoadMovie(const std::string& path) override;
  void SetLayout(int align_mode, const std::string& scale, int scale_mode) override;
  void Play() override {}
  void SetVariable(const std::string& name, const std::string& value) override;

 private:
  struct ViewUnref {
    void operator()(WebKitWebView* view) const noexcept;
  };
  // Answers the "lumora" scheme for the player whose view asks.
  static void OnSchemeRequest(WebKitURISchemeRequest* request, void*) noexcept;
  static void OnScriptMessage(WebKitUserContentManager*, WebKitJavascriptResult* result,
                              void* data) noexcept;
  static void OnLoadChanged(WebKitWebView*, int event, void* data) noexcept;
  void SendVariable(const std::string& name, const std::string& value);
  static void OnAutomationStarted(WebKitWebContext*, WebKitAutomationSession* session,
                                  void* data) noexcept;
  static WebKitWebView* OnCreateWebView(WebKitAutomationSession*, void* data) noexcept;

  std::unique_ptr<WebKitWebView, ViewUnref> view_;
  PlayerEvents* events_ = nullptr;
  std::string movie_bytes_;
  // The two folders whose files the movie may read ("/data/...", "/current/...").
  std::string data_dir_;
  std::string current_dir_;
  // The movie's page has finished loading: variables go to it at once.
  bool loaded_ = false;
  bool automation_ = false;
  std::vector<std::pair<std::string, std::string>> pending_;
};

}  // namespace platform

#endif  // LUMORA_PLATFORM_GTK_WEB_VIEW_PLAYER_H_
