#include "platform/gtk/gtk_dialogs.h"

#include <gtk/gtk.h>

#include <memory>
#include <sstream>

#include "base/callback_guard.h"

namespace platform {
namespace {

// A list of file names as the file chooser hands it over: the names and the list.
struct FileNamesFree {
  void operator()(GSList* names) const noexcept { g_slist_free_full(names, g_free); }
};

void AddFilters(GtkFileChooser* chooser, const std::vector<FileFilter>& filters) {
  for (const FileFilter& f : filters) {
    GtkFileFilter* filter = gtk_file_filter_new();
    gtk_file_filter_set_name(filter, f.name.c_str());
    std::stringstream patterns(f.patterns);
    for (std::string pattern; std::getline(patterns, pattern, ';');) {
      if (pattern.empty()) continue;
      // Patterns match regardless of letter case, as on the desktops users know.
      std::string any_case;
      for (char c : pattern) {
        if (g_ascii_isalpha(c)) {
          any_case += '[';
          any_case += g_ascii_tolower(c);
          any_case += g_ascii_toupper(c);
          any_case += ']';
        } else {
          any_case += c;
        }
      }
      gtk_file_filter_add_pattern(filter, any_case.c_str());
    }
    gtk_file_chooser_add_filter(chooser, filter);
  }
}

// Runs a file chooser; true with the chosen paths when confirmed.
bool ChooseFiles(GtkWindow* parent, const char* title, const std::vector<FileFilter>& filters,
                 bool multiple, std::vector<std::string>* paths) {
  GtkWidget* dialog =
      gtk_file_chooser_dialog_new(title, parent, GTK_FILE_CHOOSER_ACTION_OPEN, "取消",
                                  GTK_RESPONSE_CANCEL, "打开", GTK_RESPONSE_ACCEPT, nullptr);
  GtkFileChooser* chooser = GTK_FILE_CHOOSER(dialog);
  gtk_file_chooser_set_select_multiple(chooser, multiple);
  gtk_file_chooser_set_local_only(chooser, TRUE);
  AddFilters(chooser, filters);
  paths->clear();
  bool chosen = gtk_dialog_run(GTK_DIALOG(dialog)) == GTK_RESPONSE_ACCEPT;
  if (chosen) {
    const std::unique_ptr<GSList, FileNamesFree> files(gtk_file_chooser_get_filenames(chooser));
    for (GSList* it = files.get(); it != nullptr; it = it->next)
      paths->push_back(static_cast<char*>(it->data));
  }
  gtk_widget_destroy(dialog);
  return chosen && !paths->empty();
}

// The "browse" button of a form field: picks one file for the field's entry.
void OnBrowse(GtkButton* button, gpointer) noexcept {
  auto* field = static_cast<FormField*>(g_object_get_data(G_OBJECT(button), "field"));
  auto* entry = GTK_ENTRY(g_object_get_data(G_OBJECT(button), "entry"));
  GtkWidget* top = gtk_widget_get_toplevel(GTK_WIDGET(button));
  base::Guarded("choosing a file", [&] {
    std::vector<std::string> chosen;
    if (ChooseFiles(GTK_WINDOW(top), field->browse_label.c_str(), field->browse_filters, false,
                    &chosen))
      gtk_entry_set_text(entry, chosen.front().c_str());
  });
}

}  // namespace

void GtkDialogs::Message(const std::string& text, const std::string& caption) {
  GtkWidget* dialog = gtk_message_dialog_new(parent_, GTK_DIALOG_MODAL, GTK_MESSAGE_INFO,
                                             GTK_BUTTONS_OK, "%s", text.c_str());
  gtk_window_set_title(GTK_WINDOW(dialog), caption.c_str());
  // One button: however the box was closed, it was answered.
  (void)gtk_dialog_run(GTK_DIALOG(dialog));
  gtk_widget_destroy(dialog);
}

bool GtkDialogs::Question(const std::string& text, const std::string& caption) {
  GtkWidget* dialog = gtk_message_dialog_new(parent_, GTK_DIALOG_MODAL, GTK_MESSAGE_QUESTION,
                                             GTK_BUTTONS_YES_NO, "%s", text.c_str());
  gtk_window_set_title(GTK_WINDOW(dialog), caption.c_str());
  gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_NO);
  bool yes = gtk_dialog_run(GTK_DIALOG(dialog)) == GTK_RESPONSE_YES;
  gtk_widget_destroy(dialog);
  return yes;
}

void GtkDialogs::About() {
  GtkWidget* dialog = gtk_dialog_new_with_buttons("关于 Lumora", parent_, GTK_DIALOG_MODAL, "确定",
                                                  GTK_RESPONSE_OK, nullptr);
  GtkWidget* label = gtk_label_new("Lumora Version 1.0");
  gtk_widget_set_margin_start(label, 24);
  gtk_widget_set_margin_end(label, 24);
  gtk_widget_set_margin_top(label, 16);
  gtk_widget_set_margin_bottom(label, 16);
  gtk_container_add(GTK_CONTAINER(gtk_dialog_get_content_area(GTK_DIALOG(dialog))), label);
  gtk_widget_show_all(dialog);
  // One button: however the box was closed, it was answered.
  (void)gtk_dialog_run(GTK_DIALOG(dialog));
  gtk_widget_destroy(dialog);
}

bool GtkDialogs::OpenFiles(const std::vector<FileFilter>& filters, bool multiple,
                           std::vector<std::string>* paths) {
  return ChooseFiles(nullptr, "打开", filters, multiple, paths);
}

bool GtkDialogs::Form(FormSpec* form) {
  GtkWidget* dialog = gtk_dialog_new_with_buttons(
      form->title.c_str(), nullptr, GTK_DIALOG_MODAL, form->ok_label.c_str(), GTK_RESPONSE_OK,
      form->cancel_label.c_str(), GTK_RESPONSE_CANCEL, nullptr);
  gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_OK);
  GtkWidget* grid = gtk_grid_new();
  gtk_grid_set_row_spacing(GTK_GRID(grid), 8);
  gtk_grid_set_column_spacing(GTK_GRID(grid), 8);
  gtk_container_set_border_width(GTK_CONTAINER(grid), 12);
  std::vector<GtkWidget*> entries;
  int row = 0;
  for (FormField& field : form->fields) {
    GtkWidget* label = gtk_label_new(field.label.c_str());
    gtk_widget_set_halign(label, GTK_ALIGN_END);
    GtkWidget* entry = gtk_entry_new();
    gtk_entry_set_text(GTK_ENTRY(entry), field.value.c_str());
    gtk_entry_set_width_chars(GTK_ENTRY(entry), 40);
    gtk_editable_set_editable(GTK_EDITABLE(entry), !field.read_only);
    gtk_entry_set_visibility(GTK_ENTRY(entry), !field.secret);
    gtk_entry_set_activates_default(GTK_ENTRY(entry), TRUE);
    gtk_grid_attach(GTK_GRID(grid), label, 0, row, 1, 1);
    gtk_grid_attach(GTK_GRID(grid), entry, 1, row, 1, 1);
    if (!field.browse_filters.empty()) {
      GtkWidget* browse = gtk_button_new_with_label(field.browse_label.c_str());
      g_object_set_data(G_OBJECT(browse), "entry", entry);
      g_object_set_data(G_OBJECT(browse), "field", &field);
      g_signal_connect(browse, "clicked", G_CALLBACK(&OnBrowse), nullptr);
      gtk_grid_attach(GTK_GRID(grid), browse, 2, row, 1, 1);
    }
    entries.push_back(entry);
    ++row;
  }
  gtk_container_add(GTK_CONTAINER(gtk_dialog_get_content_area(GTK_DIALOG(dialog))), grid);
  gtk_widget_show_all(dialog);
  bool confirmed = gtk_dialog_run(GTK_DIALOG(dialog)) == GTK_RESPONSE_OK;
  if (confirmed) {
    for (std::size_t i = 0; i < entries.size(); ++i)
      form->fields[i].value = gtk_entry_get_text(GTK_ENTRY(entries[i]));
  }
  gtk_widget_destroy(dialog);
  return confirmed;
}

}  // namespace platform
