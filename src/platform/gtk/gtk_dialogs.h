// Modal GTK dialogs over the main window.
#ifndef LUMORA_PLATFORM_GTK_GTK_DIALOGS_H_
#define LUMORA_PLATFORM_GTK_GTK_DIALOGS_H_

#include "platform/dialogs.h"

typedef struct _GtkWindow GtkWindow;

namespace platform {

class GtkDialogs : public Dialogs {
 public:
  explicit GtkDialogs(GtkWindow* parent) : parent_(parent) {}

  void Message(const std::string& text, const std::string& caption) override;
  bool Question(const std::string& text, const std::string& caption) override;
  void About() override;
  bool OpenFiles(const std::vector<FileFilter>& filters, bool multiple,
                 std::vector<std::string>* paths) override;
  bool Form(FormSpec* form) override;

 private:
  GtkWindow* parent_;
};

}  // namespace platform

#endif  // LUMORA_PLATFORM_GTK_GTK_DIALOGS_H_
