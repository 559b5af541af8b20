// Modal dialogs: message boxes, the About box, the file chooser and small forms.
// Each call returns when the user has answered. All text here is UTF-8.
#ifndef LUMORA_PLATFORM_DIALOGS_H_
#define LUMORA_PLATFORM_DIALOGS_H_

#include <string>
#include <vector>

namespace platform {

struct FileFilter {
  std::string name;      // shown to the user, e.g. "PDF文件(*.pdf)"
  std::string patterns;  // ";"-separated, e.g. "*.doc;*.docx"
};

// One field of a form dialog.
struct FormField {
  std::string name;   // the field's key on the automation interface
  std::string label;  // the label shown beside it
  std::string value;  // in: initial text; out: the text when OK was pressed
  bool read_only = false;
  // When set, a "browse" button beside the field picks a file with these filters.
  std::vector<FileFilter> browse_filters;
  std::string browse_label;
  // A password: its characters are not shown, and the automation interface never
  // reports its text.
  bool secret = false;
};

struct FormSpec {
  std::string kind;  // the form's name on the automation interface
  std::string title;
  std::string ok_label;
  std::string cancel_label;
  std::vector<FormField> fields;
};

class Dialogs {
 public:
  virtual ~Dialogs() = default;
  // One OK button.
  virtual void Message(const std::string& text, const std::string& caption) = 0;
  // Yes and No, No being the default. True for Yes.
  virtual bool Question(const std::string& text, const std::string& caption) = 0;
  virtual void About() = 0;
  // The open-file dialog: files that must exist, several at once when |multiple|.
  // True with the chosen paths in dialog order; false when cancelled.
  virtual bool OpenFiles(const std::vector<FileFilter>& filters, bool multiple,
                         std::vector<std::string>* paths) = 0;
  // A form: true when confirmed, with the fields' final texts in |form|.
  virtual bool Form(FormSpec* form) = 0;
};

}  // namespace platform

#endif  // LUMORA_PLATFORM_DIALOGS_H_
