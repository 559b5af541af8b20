#include "platform/gtk/gtk_update_window.h"

#include <gtk/gtk.h>

#include "base/callback_guard.h"

namespace platform {
namespace {

GtkWidget* Labelled(const char* label, GtkWidget* bar) {
  GtkWidget* row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 8);
  GtkWidget* text = gtk_label_new(label);
  gtk_widget_set_size_request(text, 90, -1);
  gtk_label_set_xalign(GTK_LABEL(text), 0);
  gtk_box_pack_start(GTK_BOX(row), text, FALSE, FALSE, 0);
  gtk_widget_set_valign(bar, GTK_ALIGN_CENTER);
  gtk_box_pack_start(GTK_BOX(row), bar, TRUE, TRUE, 0);
  return row;
}

}  // namespace

GtkUpdateWindow::GtkUpdateWindow(GtkWindow* parent)
    : window_(gtk_window_new(GTK_WINDOW_TOPLEVEL)),
      servers_(gtk_combo_box_text_new()),
      log_(gtk_list_box_new()),
      overall_(gtk_progress_bar_new()),
      current_(gtk_progress_bar_new()),
      manual_(gtk_button_new_with_label("手动更新")) {
  gtk_window_set_title(GTK_WINDOW(window_), "更新");
  gtk_window_set_transient_for(GTK_WINDOW(window_), parent);
  gtk_window_set_default_size(GTK_WINDOW(window_), 450, 380);
  gtk_window_set_type_hint(GTK_WINDOW(window_), GDK_WINDOW_TYPE_HINT_DIALOG);

  GtkWidget* frame = gtk_frame_new("更新");
  gtk_container_set_border_width(GTK_CONTAINER(window_), 8);
  gtk_container_add(GTK_CONTAINER(window_), frame);
  GtkWidget* column = gtk_box_new(GTK_ORIENTATION_VERTICAL, 8);
  gtk_container_set_border_width(GTK_CONTAINER(column), 8);
  gtk_container_add(GTK_CONTAINER(frame), column);

  gtk_box_pack_start(GTK_BOX(column), servers_, FALSE, FALSE, 0);
  GtkWidget* scroller = gtk_scrolled_window_new(nullptr, nullptr);
  gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scroller), GTK_POLICY_AUTOMATIC,
                                 GTK_POLICY_ALWAYS);
  gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(scroller), GTK_SHADOW_IN);
  gtk_list_box_set_selection_mode(GTK_LIST_BOX(log_), GTK_SELECTION_SINGLE);
  gtk_container_add(GTK_CONTAINER(scroller), log_);
  gtk_box_pack_start(GTK_BOX(column), scroller, TRUE, TRUE, 0);
  gtk_box_pack_start(GTK_BOX(column), Labelled("更新总进度", overall_), FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(column), Labelled("当前进度", current_), FALSE, FALSE, 0);

  GtkWidget* buttons = gtk_button_box_new(GTK_ORIENTATION_HORIZONTAL);
  gtk_button_box_set_layout(GTK_BUTTON_BOX(buttons), GTK_BUTTONBOX_END);
  gtk_box_set_spacing(GTK_BOX(buttons), 8);
  GtkWidget* install = gtk_button_new_with_label("更新");
  GtkWidget* close = gtk_button_new_with_label("关闭");
  gtk_container_add(GTK_CONTAINER(buttons), manual_);
  gtk_container_add(GTK_CONTAINER(buttons), install);
  gtk_container_add(GTK_CONTAINER(buttons), close);
  gtk_box_pack_start(GTK_BOX(column), buttons, FALSE, FALSE, 0);
  gtk_widget_show_all(frame);
  gtk_widget_set_no_show_all(install, TRUE);
  gtk_widget_hide(install);  // "更新" is there but not shown

  g_signal_connect(manual_, "clicked", G_CALLBACK(&GtkUpdateWindow::OnManual), this);
  g_signal_connect(install, "clicked", G_CALLBACK(&GtkUpdateWindow::OnInstall), this);
  g_signal_connect(close, "clicked", G_CALLBACK(&GtkUpdateWindow::OnClose), this);
  g_signal_connect(servers_, "changed", G_CALLBACK(&GtkUpdateWindow::OnServerChanged), this);
  g_signal_connect(window_, "delete-event", G_CALLBACK(&GtkUpdateWindow::OnDelete), this);
}

GtkUpdateWindow::~GtkUpdateWindow() { gtk_widget_destroy(window_); }

void GtkUpdateWindow::Show() { gtk_window_present(GTK_WINDOW(window_)); }

void GtkUpdateWindow::Hide() { gtk_widget_hide(window_); }

void GtkUpdateWindow::ClearLog() {
  g_autoptr(GList) rows = gtk_container_get_children(GTK_CONTAINER(log_));
  for (GList* it = rows; it != nullptr; it = it->next) gtk_widget_destroy(GTK_WIDGET(it->data));
}

void GtkUpdateWindow::AddLog(const std::string& entry) {
  GtkWidget* text = gtk_label_new(entry.c_str());
  gtk_label_set_xalign(GTK_LABEL(text), 0);
  gtk_label_set_selectable(GTK_LABEL(text), FALSE);
  gtk_widget_show(text);
  gtk_list_box_insert(GTK_LIST_BOX(log_), text, -1);
  GtkListBoxRow* row = GTK_LIST_BOX_ROW(gtk_widget_get_parent(text));
  gtk_list_box_select_row(GTK_LIST_BOX(log_), row);
  gtk_widget_grab_focus(GTK_WIDGET(row));
}

void GtkUpdateWindow::SetServers(const std::vector<std::string>& labels, int selected) {
  filling_ = true;
  gtk_combo_box_text_remove_all(GTK_COMBO_BOX_TEXT(servers_));
  for (const std::string& label : labels)
    gtk_combo_box_text_append_text(GTK_COMBO_BOX_TEXT(servers_), label.c_str());
  gtk_combo_box_set_active(GTK_COMBO_BOX(servers_), selected);
  filling_ = false;
}

void GtkUpdateWindow::SetOverallProgress(int percent) {
  gtk_progress_bar_set_fraction(GTK_PROGRESS_BAR(overall_), percent / 100.0);
}

void GtkUpdateWindow::SetCurrentProgress(int percent) {
  gtk_progress_bar_set_fraction(GTK_PROGRESS_BAR(current_), percent / 100.0);
}

void GtkUpdateWindow::EnableChoice(bool enabled) {
  gtk_widget_set_sensitive(manual_, enabled);
  gtk_widget_set_sensitive(servers_, enabled);
}

void GtkUpdateWindow::Tell(const char* what, void (UpdateWindowEvents::*event)()) {
  if (events_ != nullptr) base::Guarded(what, [this, event] { (events_->*event)(); });
}

void GtkUpdateWindow::OnManual(GtkWidget*, void* self) noexcept {
  static_cast<GtkUpdateWindow*>(self)->Tell("manual update", &UpdateWindowEvents::OnManualUpdate);
}

void GtkUpdateWindow::OnInstall(GtkWidget*, void* self) noexcept {
  static_cast<GtkUpdateWindow*>(self)->Tell("installing", &UpdateWindowEvents::OnInstallNow);
}

void GtkUpdateWindow::OnClose(GtkWidget*, void* self) noexcept {
  static_cast<GtkUpdateWindow*>(self)->Tell("closing updates", &UpdateWindowEvents::OnCloseUpdates);
}

void GtkUpdateWindow::OnServerChanged(GtkWidget*, void* self) noexcept {
  auto* window = static_cast<GtkUpdateWindow*>(self);
  const int item = gtk_combo_box_get_active(GTK_COMBO_BOX(window->servers_));
  if (!window->filling_ && item >= 0 && window->events_ != nullptr)
    base::Guarded("choosing a server", [window, item] { window->events_->OnServerChosen(item); });
}

int GtkUpdateWindow::OnDelete(GtkWidget*, GdkEvent*, void* self) noexcept {
  static_cast<GtkUpdateWindow*>(self)->Tell("closing updates", &UpdateWindowEvents::OnCloseUpdates);
  return TRUE;  // hidden by the core, never destroyed
}

}  // namespace platform
