// Files dragged from another window and dropped on the main window, answered through
// the real book information dialog. The drag is made with the X test extension
// (xdotool), so it goes through the desktop's own drag-and-drop protocol.
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <chrono>
#include <functional>

#include "../library/catalogue_text.h"
#include "app/lumora_app.h"
#include "app/lumora_dlg.h"
#include "gui_support.h"
#include "platform/gtk/gtk_window.h"
#include "platform/platform.h"

using app::CLumoraApp;
using app::CLumoraDlg;
using app::DeploymentSettings;

namespace {

// Every widget below |widget|, a grid's children in reading order (row, then column).
void CollectWidgets(GtkWidget* widget, std::vector<GtkWidget*>* out) {
  out->push_back(widget);
  if (!GTK_IS_CONTAINER(widget)) return;
  GList* list = gtk_container_get_children(GTK_CONTAINER(widget));
  std::vector<GtkWidget*> children;
  for (GList* it = list; it; it = it->next) children.push_back(GTK_WIDGET(it->data));
  g_list_free(list);
  if (GTK_IS_GRID(widget)) {
    auto place = [&](GtkWidget* child) {
      int top = 0, left = 0;
      gtk_container_child_get(GTK_CONTAINER(widget), child, "top-attach", &top, "left-attach",
                              &left, nullptr);
      return std::make_pair(top, left);
    };
    std::sort(children.begin(), children.end(),
              [&](GtkWidget* a, GtkWidget* b) { return place(a) < place(b); });
  }
  for (GtkWidget* child : children) CollectWidgets(child, out);
}

GtkWindow* FindToplevel(const char* title) {
  GtkWindow* found = nullptr;
  GList* tops = gtk_window_list_toplevels();
  for (GList* it = tops; it; it = it->next)
    if (g_strcmp0(gtk_window_get_title(GTK_WINDOW(it->data)), title) == 0 &&
        gtk_widget_get_visible(GTK_WIDGET(it->data)))
      found = GTK_WINDOW(it->data);
  g_list_free(tops);
  return found;
}

// What the book information dialog showed, and the title typed into it.
struct BookDialogSeen {
  int opened = 0;
  std::vector<std::string> labels;
  std::vector<std::string> entries;
  std::vector<bool> editable;
};

// Fills in and confirms each book information dialog as it opens.
gboolean AnswerBookDialog(gpointer data) {
  auto* seen = static_cast<BookDialogSeen*>(data);
  GtkWindow* dialog = FindToplevel("图书信息");
  if (dialog == nullptr) return G_SOURCE_CONTINUE;
  std::vector<GtkWidget*> widgets;
  CollectWidgets(GTK_WIDGET(dialog), &widgets);
  seen->labels.clear();
  seen->entries.clear();
  seen->editable.clear();
  std::vector<GtkWidget*> entries;
  for (GtkWidget* w : widgets) {
    if (GTK_IS_LABEL(w) && !GTK_IS_BUTTON(gtk_widget_get_parent(w)))
      seen->labels.push_back(gtk_label_get_text(GTK_LABEL(w)));
    if (GTK_IS_BUTTON(w)) seen->labels.push_back(gtk_button_get_label(GTK_BUTTON(w)) ?: "");
    if (GTK_IS_ENTRY(w)) {
      entries.push_back(w);
      seen->entries.push_back(gtk_entry_get_text(GTK_ENTRY(w)));
      seen->editable.push_back(gtk_editable_get_editable(GTK_EDITABLE(w)));
    }
  }
  if (!entries.empty()) gtk_entry_set_text(GTK_ENTRY(entries[0]), "拖来的书");
  ++seen->opened;
  gtk_dialog_response(GTK_DIALOG(dialog), GTK_RESPONSE_OK);
  return G_SOURCE_CONTINUE;
}

std::string uri_a, uri_b;

void OfferFiles(GtkWidget*, GdkDragContext*, GtkSelectionData* data, guint, guint, gpointer) {
  const gchar* uris[] = {uri_a.c_str(), uri_b.c_str(), nullptr};
  gtk_selection_data_set_uris(data, const_cast<gchar**>(uris));
}

TEST(DropTest, DroppedFilesBecomeLocalBooksThroughTheBookDialog) {
  if (g_getenv("DISPLAY") == nullptr) GTEST_SKIP() << "needs a display (run under xvfb-run)";
  TempDir home;
  home.MakeDir("data/vellari/public/local");
  setenv("XDG_DATA_HOME", (home / "data").c_str(), 1);
  int argc = 0;
  char** argv = nullptr;
  std::unique_ptr<platform::Platform> face;
  const base::Status made = platform::CreateGtkPlatform(&argc, &argv, &face);
  ASSERT_TRUE(made.ok()) << made.ToString();
  CLumoraApp app{DeploymentSettings{}};
  CLumoraDlg dialog(app, *face);
  dialog.OnInitDialog();

  // A small window that offers two files for dragging, over the main window.
  uri_a = "file://" + home / "Report.PDF";
  uri_b = "file://" + home / "talk.wma";
  GtkWidget* source = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_decorated(GTK_WINDOW(source), FALSE);
  GtkWidget* box = gtk_event_box_new();
  gtk_container_add(GTK_CONTAINER(source), box);
  gtk_widget_set_size_request(box, 120, 120);
  static const GtkTargetEntry kUriList = {const_cast<gchar*>("text/uri-list"), 0, 0};
  gtk_drag_source_set(box, GDK_BUTTON1_MASK, &kUriList, 1, GDK_ACTION_COPY);
  g_signal_connect(box, "drag-data-get", G_CALLBACK(&OfferFiles), nullptr);
  gtk_window_move(GTK_WINDOW(source), 40, 40);
  gtk_widget_show_all(source);
  ASSERT_TRUE(SpinUntil([&] { return gtk_widget_get_mapped(source); }));
  SpinUntil([] { return false; }, 1.0);

  BookDialogSeen seen;
  guint answering = g_timeout_add(100, &AnswerBookDialog, &seen);
  // Press on the source, pass the drag threshold, cross to the main window, release.
  std::vector<std::string> words = {"xdotool", "mousemove", "100", "100",       "mousedown",
                                    "1",       "sleep",     "0.3", "mousemove", "130",
                                    "130",     "sleep",     "0.3", "mousemove", "500",
                                    "400",     "sleep",     "0.5", "mousemove", "520",
                                    "420",     "sleep",     "0.5", "mouseup",   "1"};
  std::vector<gchar*> command;
  for (std::string& w : words) command.push_back(w.data());
  command.push_back(nullptr);
  ASSERT_TRUE(g_spawn_async(nullptr, command.data(), nullptr, G_SPAWN_SEARCH_PATH, nullptr, nullptr,
                            nullptr, nullptr));

  // The movie is told while the files are over the window, and again once they drop.
  EXPECT_TRUE(SpinUntil([&] { return dialog.flash().GetVariable("DropHover") == "true"; }))
      << "the drag over the window was never told";
  EXPECT_TRUE(SpinUntil([&] {
    return dialog.flash().GetVariable("AddLocalFileRetValue") == "true";
  })) << "the drop never reached the host";
  EXPECT_EQ(dialog.flash().GetVariable("DropHover"), "false");
  g_source_remove(answering);
  gtk_widget_destroy(source);

  EXPECT_EQ(seen.opened, 2);
  EXPECT_EQ(seen.labels, (std::vector<std::string>{"书名:", "图书刊号:", "图书路径:", "封面图片:",
                                                   "浏览", "确定", "取消"}));
  ASSERT_EQ(seen.entries.size(), 4u);
  // The second file's dialog as it opened: its name, no issue, its path (read only),
  // the default picture of its type.
  EXPECT_EQ(seen.entries, (std::vector<std::string>{"talk.wma", "", home / "talk.wma",
                                                    "/public/local/LocalDefaultWmaPic.jpg"}));
  EXPECT_EQ(seen.editable, (std::vector<bool>{true, true, false, true}));
  EXPECT_EQ(ListItems(home / "data/vellari/public/local/local1.xml").size(), 2u);
  std::vector<std::string> items = ListItems(home / "data/vellari/public/local/local1.xml");
  for (const std::string& item : items) EXPECT_NE(item.find("=拖来的书"), std::string::npos);
}

TEST(DropTest, OnlyLocalFileUrisAreTaken) {
  const char* uris[] = {"file:///tmp/a%20b.pdf", "http://example.org/x.pdf",
                        "file:///tmp/%E4%B9%A6.epub", "not a uri", nullptr};
  EXPECT_EQ(platform::GtkMainWindow::PathsFromUris(uris),
            (std::vector<std::string>{"/tmp/a b.pdf", "/tmp/书.epub"}));
}

}  // namespace
