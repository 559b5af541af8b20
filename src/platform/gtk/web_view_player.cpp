#include "platform/gtk/web_view_player.h"

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <memory>
#include <nlohmann/json.hpp>
#include <string_view>

#include "base/callback_guard.h"
#include "base/files.h"
#include "base/folders.h"
#include "platform/gtk/movie_files.h"
#include "platform/gtk/paint_mode.h"

namespace platform {
namespace {

constexpr const char* kScheme = "lumora";
constexpr const char* kMovieUri = "lumora://movie/";
using Json = nlohmann::json;

std::string JsString(const std::string& utf8) {
  // ensure_ascii keeps U+2028 and friends escaped: safe inside a script.
  return Json(utf8).dump(-1, ' ', true, Json::error_handler_t::replace);
}

void Refuse(WebKitURISchemeRequest* request, int code, const char* why) {
  g_autoptr(GError) error = g_error_new_literal(G_IO_ERROR, code, why);
  webkit_uri_scheme_request_finish_error(request, error);
}

void FinishWithBytes(WebKitURISchemeRequest* request, GBytes* bytes, const char* type) {
  g_autoptr(GInputStream) stream = g_memory_input_stream_new_from_bytes(bytes);
  g_autoptr(WebKitURISchemeResponse) response =
      webkit_uri_scheme_response_new(stream, static_cast<gint64>(g_bytes_get_size(bytes)));
  webkit_uri_scheme_response_set_content_type(response, type);
  webkit_uri_scheme_request_finish_with_response(request, response);
}

gboolean RefuseContextMenu(WebKitWebView*, WebKitContextMenu*, GdkEvent*, WebKitHitTestResult*,
                           gpointer) noexcept {
  return TRUE;
}

}  // namespace

void WebViewPlayer::ViewUnref::operator()(WebKitWebView* view) const noexcept {
  g_object_unref(view);
}

WebViewPlayer::WebViewPlayer(bool automation) : automation_(automation) {
  WebKitWebContext* context = webkit_web_context_get_default();
  static bool scheme_registered = false;
  if (!scheme_registered) {
    scheme_registered = true;
    webkit_web_context_register_uri_scheme(context, kScheme, &WebViewPlayer::OnSchemeRequest,
                                           nullptr, nullptr);
  }
  g_autoptr(WebKitUserContentManager) content = webkit_user_content_manager_new();
  g_signal_connect(content, "script-message-received::lumora",
                   G_CALLBACK(&WebViewPlayer::OnScriptMessage), this);
  webkit_user_content_manager_register_script_message_handler(content, "lumora");
  // A view that an automation session drives must be made controlled by automation.
  // The view holds the content manager from here on.
  view_.reset(WEBKIT_WEB_VIEW(g_object_new(WEBKIT_TYPE_WEB_VIEW, "user-content-manager", content,
                                           "is-controlled-by-automation", automation ? TRUE : FALSE,
                                           nullptr)));
  g_object_ref_sink(view_.get());
  // Without a GPU the flat movie is painted by the web process alone: compositing it on a
  // software renderer halves the frame rate of a scrolled grid and costs memory.
  if (!HasGpuRenderNode("/dev/dri"))
    webkit_settings_set_hardware_acceleration_policy(webkit_web_view_get_settings(view_.get()),
                                                     WEBKIT_HARDWARE_ACCELERATION_POLICY_NEVER);
  g_object_set_data(G_OBJECT(view_.get()), "lumora-player", this);
  g_signal_connect(view_.get(), "load-changed", G_CALLBACK(&WebViewPlayer::OnLoadChanged), this);
  // The movie has no context menu.
  g_signal_connect(view_.get(), "context-menu", G_CALLBACK(&RefuseContextMenu), nullptr);
  if (automation_) {
    webkit_web_context_set_automation_allowed(context, TRUE);
    g_signal_connect(context, "automation-started", G_CALLBACK(&WebViewPlayer::OnAutomationStarted),
                     this);
  }
}

void WebViewPlayer::OnAutomationStarted(WebKitWebContext*, WebKitAutomationSession* session,
                                        void* data) noexcept {
  g_autoptr(WebKitApplicationInfo) info = webkit_application_info_new();
  webkit_application_info_set_name(info, "lumora");
  webkit_automation_session_set_application_info(session, info);
  // Every browsing context the session asks for is the movie's own view.
  g_signal_connect(session, "create-web-view", G_CALLBACK(&WebViewPlayer::OnCreateWebView), data);
}

WebKitWebView* WebViewPlayer::OnCreateWebView(WebKitAutomationSession*, void* data) noexcept {
  return static_cast<WebViewPlayer*>(data)->view_.get();
}

WebViewPlayer::~WebViewPlayer() {
  WebKitWebView* view = view_.get();
  if (automation_) g_signal_handlers_disconnect_by_data(webkit_web_view_get_context(view), this);
  g_signal_handlers_disconnect_by_data(view, this);
  g_object_set_data(G_OBJECT(view), "lumora-player", nullptr);
  WebKitUserContentManager* content = webkit_web_view_get_user_content_manager(view);
  g_signal_handlers_disconnect_by_data(content, this);
}

GtkWidget* WebViewPlayer::widget() const { return GTK_WIDGET(view_.get()); }

bool WebViewPlayer::LoadMovie(const std::string& path) {
  // The movie is opened like any file, through the C library.
  std::string bytes;
  if (!base::ReadWholeFile(path, &bytes).ok()) return false;
  movie_bytes_ = std::move(bytes);
  loaded_ = false;
  webkit_web_view_load_uri(view_.get(), kMovieUri);
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
  std::string script =
      "window.lumora && lumora.setVariable(" + JsString(name) + "," + JsString(value) + ");";
  webkit_web_view_evaluate_javascript(view_.get(), script.c_str(), -1, nullptr, nullptr, nullptr,
                                      nullptr, nullptr);
}

void WebViewPlayer::OnSchemeRequest(WebKitURISchemeRequest* request, void*) noexcept {
  // The scheme is the whole process's: the one player of the process answers it, found
  // through its view.
  WebKitWebView* view = webkit_uri_scheme_request_get_web_view(request);
  auto* self = view != nullptr
                   ? static_cast<WebViewPlayer*>(g_object_get_data(G_OBJECT(view), "lumora-player"))
                   : nullptr;
  if (self == nullptr) {
    Refuse(request, G_IO_ERROR_NOT_FOUND, "no movie");
    return;
  }
  const char* uri = webkit_uri_scheme_request_get_uri(request);
  const char* path = webkit_uri_scheme_request_get_path(request);
  // Everything lives under the movie's own address, one origin for page and files.
  if (uri == nullptr || path == nullptr ||
      std::string_view(uri).substr(0, std::string_view(kMovieUri).size()) != kMovieUri) {
    Refuse(request, G_IO_ERROR_PERMISSION_DENIED, "not served");
    return;
  }
  if (std::string_view(path) == "/" || std::string_view(path).empty()) {
    g_autoptr(GBytes) bytes = g_bytes_new(self->movie_bytes_.data(), self->movie_bytes_.size());
    FinishWithBytes(request, bytes, "text/html; charset=utf-8");
    return;
  }
  // A request always ends, with the file or with an error, whatever happens on the way.
  const base::Status served =
      base::Guarded("serving the movie a file", base::Status::IoError("failed"), [&] {
        auto file = std::make_unique<ServedFile>();
        base::Status s = ServeMovieFile(path, self->data_dir_, self->current_dir_, file.get());
        if (!s.ok()) return s;
        const std::string type = file->content_type;
        // The bytes go to WebKit as they are; the GBytes owns the file from here on.
        g_autoptr(GBytes) bytes = g_bytes_new_with_free_func(
            file->bytes.data(), file->bytes.size(),
            [](gpointer p) noexcept { delete static_cast<ServedFile*>(p); }, file.get());
        // Owned by |bytes| now, which frees it.
        (void)file.release();
        FinishWithBytes(request, bytes, type.c_str());
        return s;
      });
  if (served.ok()) return;
  if (served.IsNotFound())
    Refuse(request, G_IO_ERROR_NOT_FOUND, "no such file");
  else if (served.code() == base::Status::Code::kTooLarge)
    Refuse(request, G_IO_ERROR_FAILED, "file too large");
  else
    Refuse(request, G_IO_ERROR_PERMISSION_DENIED, "not served");
}

void WebViewPlayer::OnScriptMessage(WebKitUserContentManager*, WebKitJavascriptResult* result,
                                    void* data) noexcept {
  auto* self = static_cast<WebViewPlayer*>(data);
  JSCValue* value = webkit_javascript_result_get_js_value(result);
  if (!jsc_value_is_string(value)) return;
  g_autofree char* text = jsc_value_to_string(value);
  base::Guarded("a message of the movie", [self, text] {
    Json message = Json::parse(text, nullptr, false);
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
  });
}

void WebViewPlayer::OnLoadChanged(WebKitWebView*, int event, void* data) noexcept {
  auto* self = static_cast<WebViewPlayer*>(data);
  if (event != WEBKIT_LOAD_FINISHED) return;
  self->loaded_ = true;
  base::Guarded("handing the movie its variables", [self] {
    for (const auto& [name, value] : self->pending_) self->SendVariable(name, value);
  });
  self->pending_.clear();
}

}  // namespace platform
