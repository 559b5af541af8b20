#include "platform/gtk/gtk_window.h"

#include <gtk/gtk.h>

#include "base/callback_guard.h"
#include "platform/gtk/app_icon.h"

namespace platform {

GtkMainWindow::GtkMainWindow(GtkWidget* player)
    : window_(gtk_window_new(GTK_WINDOW_TOPLEVEL)),
      layout_(gtk_layout_new(nullptr, nullptr)),
      player_(player) {
  gtk_window_set_title(GTK_WINDOW(window_), "Lumora");
  SetAppIcon(GTK_WINDOW(window_));
  gtk_window_set_decorated(GTK_WINDOW(window_), FALSE);
  gtk_window_set_skip_taskbar_hint(GTK_WINDOW(window_), FALSE);
  gtk_container_add(GTK_CONTAINER(window_), layout_);
  gtk_layout_put(GTK_LAYOUT(layout_), player_, 0, 0);
  g_signal_connect(window_, "key-press-event", G_CALLBACK(&GtkMainWindow::OnKeyPress), this);
  g_signal_connect(window_, "delete-event", G_CALLBACK(&GtkMainWindow::OnDelete), this);
  // Connected handlers run before the web view's own: the host sees the mouse first.
  gtk_widget_add_events(player_,
                        GDK_POINTER_MOTION_MASK | GDK_BUTTON_PRESS_MASK | GDK_BUTTON_RELEASE_MASK);
  g_signal_connect(player_, "button-press-event", G_CALLBACK(&GtkMainWindow::OnMouse), this);
  g_signal_connect(player_, "button-release-event", G_CALLBACK(&GtkMainWindow::OnMouse), this);
  g_signal_connect(player_, "motion-notify-event", G_CALLBACK(&GtkMainWindow::OnMouse), this);
  // Files dropped anywhere on the window go to the host: the web view gives up its own
  // drop target, so a dropped file never replaces the movie.
  static const GtkTargetEntry kUriList = {const_cast<gchar*>("text/uri-list"), 0, 0};
  gtk_drag_dest_unset(player_);
  gtk_drag_dest_set(window_, GTK_DEST_DEFAULT_ALL, &kUriList, 1, GDK_ACTION_COPY);
  g_signal_connect(window_, "drag-data-received", G_CALLBACK(&GtkMainWindow::OnDragData), this);
  g_signal_connect(window_, "drag-motion", G_CALLBACK(&GtkMainWindow::OnDragMotion), this);
  g_signal_connect(window_, "drag-leave", G_CALLBACK(&GtkMainWindow::OnDragLeave), this);
  g_signal_connect_after(player_, "realize", G_CALLBACK(&GtkMainWindow::OnPlayerRealized), this);
  g_signal_connect(player_, "unrealize", G_CALLBACK(&GtkMainWindow::OnPlayerUnrealized), this);
  if (gtk_widget_get_realized(player_)) OnPlayerRealized(player_, this);
}

GtkMainWindow::~GtkMainWindow() {
  if (drop_source_ != 0) g_source_remove(drop_source_);
  g_signal_handlers_disconnect_by_data(player_, this);
  Unwatch();
  gtk_widget_destroy(window_);
}

GtkWindow* GtkMainWindow::gtk_window() const { return GTK_WINDOW(window_); }

Rect GtkMainWindow::WorkArea() const {
  GdkDisplay* display = gdk_display_get_default();
  GdkMonitor* monitor = gdk_display_get_primary_monitor(display);
  if (monitor == nullptr) monitor = gdk_display_get_monitor(display, 0);
  GdkRectangle area{0, 0, 1024, 768};
  if (monitor != nullptr) gdk_monitor_get_workarea(monitor, &area);
  return Rect{area.x, area.y, area.x + area.width, area.y + area.height};
}

void GtkMainWindow::Move(const Rect& rect) {
  rect_ = rect;
  gtk_window_deiconify(GTK_WINDOW(window_));
  gtk_window_move(GTK_WINDOW(window_), rect.left, rect.top);
  gtk_widget_set_size_request(window_, -1, -1);
  gtk_window_resize(GTK_WINDOW(window_), rect.Width() > 0 ? rect.Width() : 1,
                    rect.Height() > 0 ? rect.Height() : 1);
}

void GtkMainWindow::Show() {
  gtk_widget_show_all(window_);
  // The keys go to the movie from the start, not only after a click in it.
  gtk_widget_grab_focus(player_);
}

void GtkMainWindow::Minimize() { gtk_window_iconify(GTK_WINDOW(window_)); }

void GtkMainWindow::SetPlayerRect(const Rect& rect) {
  gtk_layout_move(GTK_LAYOUT(layout_), player_, rect.left, rect.top);
  gtk_widget_set_size_request(player_, rect.Width(), rect.Height());
}

void GtkMainWindow::SetCursor(Cursor cursor) {
  if (watched_ == nullptr) return;
  if (cursor == Cursor::kArrow) {
    if (own_cursor_ == nullptr) return;  // the player's cursor is showing already
    g_clear_object(&own_cursor_);
    gdk_window_set_cursor(watched_, player_cursor_);
    return;
  }
  GdkCursor* shown = gdk_cursor_new_from_name(gdk_window_get_display(watched_), CursorName(cursor));
  if (shown == nullptr) return;  // the desktop has no such cursor: the player's stays
  g_clear_object(&own_cursor_);
  own_cursor_ = shown;
  gdk_window_set_cursor(watched_, own_cursor_);
}

void GtkMainWindow::OnPlayerRealized(GtkWidget* player, void* self) noexcept {
  auto* window = static_cast<GtkMainWindow*>(self);
  window->Unwatch();
  window->watched_ = gtk_widget_get_window(player);
  if (window->watched_ == nullptr) return;
  window->player_cursor_ = gdk_window_get_cursor(window->watched_);
  if (window->player_cursor_ != nullptr) g_object_ref(window->player_cursor_);
  g_signal_connect(window->watched_, "notify::cursor", G_CALLBACK(&GtkMainWindow::OnCursorChanged),
                   window);
}

void GtkMainWindow::OnPlayerUnrealized(GtkWidget*, void* self) noexcept {
  static_cast<GtkMainWindow*>(self)->Unwatch();
}

void GtkMainWindow::Unwatch() {
  if (watched_ != nullptr) g_signal_handlers_disconnect_by_data(watched_, this);
  watched_ = nullptr;
  g_clear_object(&own_cursor_);
  g_clear_object(&player_cursor_);
}

void GtkMainWindow::OnCursorChanged(GdkWindow* target, GParamSpec*, void* self) noexcept {
  auto* window = static_cast<GtkMainWindow*>(self);
  GdkCursor* now = gdk_window_get_cursor(target);
  if (now != nullptr && now == window->own_cursor_) return;  // our own setting
  // The player set a cursor of its own: kept for when the zone is left, and over a
  // zone ours is put back at once.
  if (now != nullptr) g_object_ref(now);
  g_clear_object(&window->player_cursor_);
  window->player_cursor_ = now;
  if (window->own_cursor_ != nullptr) gdk_window_set_cursor(target, window->own_cursor_);
}

void GtkMainWindow::CaptureMouse(bool capture) {
  GdkWindow* target = gtk_widget_get_window(player_);
  if (target == nullptr || capture == captured_) return;
  GdkSeat* seat = gdk_display_get_default_seat(gdk_window_get_display(target));
  if (capture) {
    captured_ = gdk_seat_grab(seat, target, GDK_SEAT_CAPABILITY_POINTER, FALSE, nullptr, nullptr,
                              nullptr, nullptr) == GDK_GRAB_SUCCESS;
  } else {
    gdk_seat_ungrab(seat);
    captured_ = false;
  }
}

Point GtkMainWindow::CursorPosition() const {
  GdkSeat* seat = gdk_display_get_default_seat(gdk_display_get_default());
  Point p;
  gdk_device_get_position(gdk_seat_get_pointer(seat), nullptr, &p.x, &p.y);
  return p;
}

int GtkMainWindow::OnKeyPress(GtkWidget*, GdkEvent* event, void* data) noexcept {
  auto* self = static_cast<GtkMainWindow*>(data);
  if (self->events_ == nullptr) return FALSE;
  // The key the host takes for itself, and whether the movie gets it too. Escape is
  // the movie's: it closes the movie's topmost panel or clears its search, and only a
  // movie with nothing to close asks the quit question, through its command "win" "quit".
  Key key;
  gboolean swallowed = TRUE;
  switch (event->key.keyval) {
    case GDK_KEY_Return:
    case GDK_KEY_KP_Enter:
      key = Key::kReturn;
      swallowed = FALSE;  // the movie still gets its Enter
      break;
    case GDK_KEY_F1:
      key = Key::kAbout;
      break;
    case GDK_KEY_F2:
      key = Key::kUpdates;
      break;
    default:
      return FALSE;
  }
  base::Guarded("a key", [self, key] { self->events_->OnKey(key); });
  return swallowed;
}

int GtkMainWindow::OnDelete(GtkWidget*, GdkEvent*, void* data) noexcept {
  auto* self = static_cast<GtkMainWindow*>(data);
  if (self->events_ != nullptr)
    base::Guarded("closing the window", [self] { self->events_->OnCloseRequest(); });
  return TRUE;  // the window closes only through the quit question
}

int GtkMainWindow::OnMouse(GtkWidget*, GdkEvent* event, void* data) noexcept {
  auto* self = static_cast<GtkMainWindow*>(data);
  if (self->events_ == nullptr) return FALSE;
  MouseAction action;
  MouseButton button = MouseButton::kLeft;
  double x, y;
  switch (event->type) {
    case GDK_BUTTON_PRESS:
    case GDK_BUTTON_RELEASE:
      if (event->button.button != 1 && event->button.button != 3) return FALSE;
      action = event->type == GDK_BUTTON_PRESS ? MouseAction::kDown : MouseAction::kUp;
      button = event->button.button == 3 ? MouseButton::kRight : MouseButton::kLeft;
      x = event->button.x_root;
      y = event->button.y_root;
      break;
    case GDK_MOTION_NOTIFY:
      action = MouseAction::kMove;
      x = event->motion.x_root;
      y = event->motion.y_root;
      break;
    default:
      return FALSE;
  }
  const Point at{static_cast<int>(x), static_cast<int>(y)};
  // A press the host failed on is left to the movie.
  return base::Guarded("the mouse", false,
                       [&] { return self->events_->OnPlayerMouse(action, button, at); });
}

void GtkMainWindow::OnLaterStart(const std::string& command_line, const std::string& startup_id) {
  if (!startup_id.empty()) gtk_window_set_startup_id(GTK_WINDOW(window_), startup_id.c_str());
  gtk_window_present(GTK_WINDOW(window_));
  if (events_ != nullptr) events_->OnLaterStart(command_line);
}

std::vector<std::string> GtkMainWindow::PathsFromUris(const char* const* uris) {
  std::vector<std::string> paths;
  for (; uris != nullptr && *uris != nullptr; ++uris) {
    g_autofree gchar* path = g_filename_from_uri(*uris, nullptr, nullptr);
    if (path != nullptr) paths.push_back(path);
  }
  return paths;
}

void GtkMainWindow::OnDragData(GtkWidget*, GdkDragContext*, int, int, GtkSelectionData* data,
                               unsigned, unsigned, void* self) noexcept {
  auto* window = static_cast<GtkMainWindow*>(self);
  g_auto(GStrv) uris = gtk_selection_data_get_uris(data);
  base::Guarded("dropped files", [window, &uris] {
    for (const std::string& path : PathsFromUris(uris)) window->dropped_.push_back(path);
  });
  if (!window->dropped_.empty() && window->drop_source_ == 0)
    window->drop_source_ = g_idle_add(&GtkMainWindow::DeliverDrop, window);
}

// The window is one drop target: the desktop reports motion over it and one leave (also
// just before a drop), so the host hears of a drag over it once, and of its end once.
int GtkMainWindow::OnDragMotion(GtkWidget*, GdkDragContext*, int, int, unsigned,
                                void* self) noexcept {
  static_cast<GtkMainWindow*>(self)->DragOver(true);
  return FALSE;  // the default handling answers the desktop
}

void GtkMainWindow::OnDragLeave(GtkWidget*, GdkDragContext*, unsigned, void* self) noexcept {
  static_cast<GtkMainWindow*>(self)->DragOver(false);
}

void GtkMainWindow::DragOver(bool over) {
  if (over == drag_over_) return;
  drag_over_ = over;
  if (events_ != nullptr) base::Guarded("drag over", [this, over] { events_->OnDragOver(over); });
}

int GtkMainWindow::DeliverDrop(void* self) noexcept {
  auto* window = static_cast<GtkMainWindow*>(self);
  window->drop_source_ = 0;
  std::vector<std::string> paths;
  paths.swap(window->dropped_);
  if (window->events_ != nullptr)
    base::Guarded("dropped files", [window, &paths] { window->events_->OnFilesDropped(paths); });
  return G_SOURCE_REMOVE;
}

}  // namespace platform
