#include "platform/gtk/web_view_player.h"

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <string_view>

#include <nlohmann/json.hpp>

#include "platform/files.h"
#include "platform/folders.h"
#include "platform/gtk/movie_files.h"

namespace platform {
namespace {

constexpr const char* kScheme = "lumora";
constexpr const char* kMovieUri = "lumora://movie/";
using Json = nlohmann::json;

std::string JsString(const std::string& utf8) {
  // ensure_ascii keeps U+2028 and friends escaped: safe inside a script.
  return Json(utf8).dump(-1, ' ', true, Json::error_handler_t::replace);
}

}  // namespace

WebViewPlayer::WebViewPlayer(bool automation) : automation_(automation) {
  WebKitWebContext* context = webkit_web_context_get_default();
  static bool scheme_registered = false;
  if (!scheme_registered) {
    scheme_registered = true;
    webkit_web_context_register_uri_scheme(
        context, kScheme,
        [](WebKitURISchemeRequest* request, gpointer) {
          // The one player of the process answers its own scheme.
          WebKitWebView* view = webkit_uri_scheme_request_get_web_view(request);
          auto* self = view ? static_cast<WebViewPlayer*>(
                                  g_object_get_data(G_OBJECT(view), "lumora-player"))
                            : nullptr;
          if (self == nullptr) {
            GError* error = g_error_new_literal(G_IO_ERROR, G_IO_ERROR_NOT_FOUND, "no movie");
            webkit_uri_scheme_request_finish_error(request, error);
            g_error_free(error);
            return;
          }
          WebViewPlayer::OnSchemeRequest(request, self);
        },
        nullptr, nullptr);
  }
  WebKitUserContentManager* content = webkit_user_content_manager_new();
  g_signal_connect(content, "script-message-received::lumora",
                   G_CALLBACK(&WebViewPlayer::OnScriptMessage), this);
  webkit_user_content_manager_register_script_message_handler(content, "lumora");
  // A view that an automation session drives must be made controlled by automation.
  view_ = WEBKIT_WEB_VIEW(g_object_new(WEBKIT_TYPE_WEB_VIEW, "user-content-manager", content,
                                       "is-controlled-by-automation", automation ? TRUE : FALSE,
                                       nullptr));
  g_object_unref(content);
  g_object_ref_sink(view_);
  g_object_set_data(G_OBJECT(view_), "lumora-player", this);
  g_signal_connect(view_, "load-changed", G_CALLBACK(&WebViewPlayer::OnLoadChanged), this);
  // The movie has no context menu.
  g_signal_connect(view_, "context-menu",
                   G_CALLBACK(+[](WebKitWebView*, WebKitContextMenu*, GdkEvent*,
                                  WebKitHitTestResult*, gpointer) -> gboolean { return TRUE; }),
                   nullptr);
  if (automation_) {
    webkit_web_context_set_automation_allowed(context, TRUE);
    g_signal_connect(context, "automation-started",
                     G_CALLBACK(&WebViewPlayer::OnAutomationStarted), this);
  }
}

void WebViewPlayer::OnAutomationStarted(WebKitWebContext*, WebKitAutomationSession* session,
                                        void* data) {
  auto* self = static_cast<WebViewPlayer*>(data);
  WebKitApplicationInfo* info = webkit_application_info_new();
  webkit_application_info_set_name(info, "lumora");
  webkit_automation_session_set_application_info(session, info);
  webkit_application_info_unref(info);
  // Every browsing context the session asks for is the movie's own view.
  g_signal_connect(session, "create-web-view",
                   G_CALLBACK(+[](WebKitAutomationSession*, gpointer player) -> WebKitWebView* {
                     return static_cast<WebViewPlayer*>(player)->view_;
                   }),
                   self);
}

WebViewPlayer::~WebViewPlayer() {
  if (automation_)
    g_signal_handlers_disconnect_by_data(webkit_web_view_get_context(view_), this);
  g_signal_handlers_disconnect_by_data(view_, this);
  g_object_set_data(G_OBJECT(view_), "lumora-player", nullptr);
  WebKitUserContentManager* content = webkit_web_view_get_user_content_manager(view_);
  g_signal_handlers_disconnect_by_data(content, this);
  g_object_unref(view_);
}

GtkWidget* WebViewPlayer::widget() const { return GTK_WIDGET(view_); }

bool WebViewPlayer::LoadMovie(const std::string& path) {
  // The movie is opened like any file, through the C library.
  std::string bytes;
  if (!ReadWholeFile(path, &bytes).ok()) return false;
  movie_bytes_ = std::move(bytes);
  loaded_ = false;
  webkit_web_view_load_uri(view_, kMovieUri);
  return true;
}

void WebViewPlayer::SetLayout(int, const std::string&, int) {
  // An HTML page already lays itself out from the top-left corner at its natural size,
  // which is the only layout the host asks for (align 5, "noScale", mode 3).
}

void WebViewPlayer::SetVariable(const std::string& name, const std::string& value) {
  // Only the host names the folders whose files the movie may read.
  if (name == "MyAppDataDir") data_dir_ = value;
  if (name == "CurrentDir") current_dir_ = value;
  if (!loaded_) {
    pending_.emplace_back(name, value);
    return;
  }
  SendVariable(name, value);
}

void WebViewPlayer::SendVariable(const std::string& name, const std::string& value) {
  std::string script = "window.lumora && lumora.setVariable(" + JsString(name) + "," +
                       JsString(value) + ");";
  webkit_web_view_evaluate_javascript(view_, script.c_str(), -1, nullptr, nullptr, nullptr,
                                      nullptr, nullptr);
}

namespace {

void FinishWithBytes(WebKitURISchemeRequest* request, GBytes* bytes, const char* type) {
  GInputStream* stream = g_memory_input_stream_new_from_bytes(bytes);
  WebKitURISchemeResponse* response =
      webkit_uri_scheme_response_new(stream, static_cast<gint64>(g_bytes_get_size(bytes)));
  webkit_uri_scheme_response_set_content_type(response, type);
  webkit_uri_scheme_request_finish_with_response(request, response);
  g_object_unref(response);
  g_object_unref(stream);
}

void Refuse(WebKitURISchemeRequest* request, int code, const char* why) {
  GError* error = g_error_new_literal(G_IO_ERROR, code, why);
  webkit_uri_scheme_request_finish_error(request, error);
  g_error_free(error);
}

}  // namespace

void WebViewPlayer::OnSchemeRequest(WebKitURISchemeRequest* request, void* data) {
  auto* self = static_cast<WebViewPlayer*>(data);
  const char* uri = webkit_uri_scheme_request_get_uri(request);
  const char* path = webkit_uri_scheme_request_get_path(request);
  // Everything lives under the movie's own address, one origin for page and files.
  if (uri == nullptr || path == nullptr ||
      std::string_view(uri).substr(0, std::string_view(kMovieUri).size()) != kMovieUri) {
    Refuse(request, G_IO_ERROR_PERMISSION_DENIED, "not served");
    return;
  }
  if (std::string_view(path) == "/" || std::string_view(path).empty()) {
    GBytes* bytes = g_bytes_new(self->movie_bytes_.data(), self->movie_bytes_.size());
    FinishWithBytes(request, bytes, "text/html; charset=utf-8");
    g_bytes_unref(bytes);
    return;
  }
  auto* file = new ServedFile;
  switch (ServeMovieFile(path, self->data_dir_, self->current_dir_, file)) {
    case ServeResult::kOk: {
      GBytes* bytes = g_bytes_new_with_free_func(
          file->bytes.data(), file->bytes.size(),
          [](gpointer p) { delete static_cast<ServedFile*>(p); }, file);
      const std::string type = file->content_type;
      FinishWithBytes(request, bytes, type.c_str());
      g_bytes_unref(bytes);
      return;
    }
    case ServeResult::kMissing:
      Refuse(request, G_IO_ERROR_NOT_FOUND, "no such file");
      break;
    case ServeResult::kTooLarge:
      Refuse(request, G_IO_ERROR_FAILED, "file too large");
      break;
    case ServeResult::kNotServed:
      Refuse(request, G_IO_ERROR_PERMISSION_DENIED, "not served");
      break;
  }
  delete file;
}

void WebViewPlayer::OnScriptMessage(WebKitUserContentManager*, WebKitJavascriptResult* result,
                                    void* data) {
  auto* self = static_cast<WebViewPlayer*>(data);
  JSCValue* value = webkit_javascript_result_get_js_value(result);
  if (!jsc_value_is_string(value)) return;
  char* text = jsc_value_to_string(value);
  Json message = Json::parse(text, nullptr, false);
  g_free(text);
  if (!message.is_object() || self->events_ == nullptr) return;
  if (message.contains("fscommand") && message["fscommand"].is_string()) {
    std::string args =
        message.contains("args") && message["args"].is_string() ? message["args"] : "";
    self->events_->OnFSCommand(message["fscommand"], args);
  } else if (message.contains("setVariable") && message["setVariable"].is_object()) {
    const Json& v = message["setVariable"];
    if (v.contains("name") && v["name"].is_string() && v.contains("value") &&
        v["value"].is_string())
      self->events_->OnVariableChanged(v["name"], v["value"]);
  }
}

void WebViewPlayer::OnLoadChanged(WebKitWebView*, int event, void* data) {
  auto* self = static_cast<WebViewPlayer*>(data);
  if (event != WEBKIT_LOAD_FINISHED) return;
  self->loaded_ = true;
  for (const auto& [name, value] : self->pending_) self->SendVariable(name, value);
  self->pending_.clear();
}

}  // namespace platform
