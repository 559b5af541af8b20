#include "platform/headless/headless_dialogs.h"

#include <algorithm>

#include "platform/headless/chosen_path.h"

namespace platform {

using Json = AutomationChannel::Json;

Json HeadlessDialogs::TakeAnswer(const std::vector<std::string>& accepted, const Json& fallback,
                                 bool allow_object, bool* defaulted) {
  *defaulted = false;
  std::optional<Json> answer = channel_.TakeAnswer();
  if (!answer) {
    *defaulted = true;
    return fallback;
  }
  if (answer->is_string() &&
      std::find(accepted.begin(), accepted.end(), answer->get<std::string>()) != accepted.end())
    return *answer;
  if (allow_object && answer->is_object()) return *answer;
  channel_.EmitError("answer " + answer->dump() + " does not fit this dialog");
  *defaulted = true;
  return fallback;
}

void HeadlessDialogs::Report(Json dialog, const Json& answer, bool defaulted) {
  dialog["answer"] = answer;
  if (defaulted) dialog["defaulted"] = true;
  channel_.Emit(Json{{"dialog", dialog}});
}

void HeadlessDialogs::Message(const std::string& text, const std::string& caption) {
  bool defaulted;
  Json answer = TakeAnswer({"ok"}, "ok", false, &defaulted);
  Report({{"kind", "message"}, {"text", text}, {"caption", caption}}, answer, defaulted);
}

bool HeadlessDialogs::Question(const std::string& text, const std::string& caption) {
  bool defaulted;
  Json answer = TakeAnswer({"yes", "no"}, "no", false, &defaulted);
  Report({{"kind", "question"}, {"text", text}, {"caption", caption}}, answer, defaulted);
  return answer == "yes";
}

void HeadlessDialogs::About() {
  bool defaulted;
  Json answer = TakeAnswer({"ok"}, "ok", false, &defaulted);
  Report({{"kind", "about"}, {"text", "Lumora Version 1.0"}, {"caption", "关于 Lumora"}}, answer,
         defaulted);
}

bool HeadlessDialogs::OpenFiles(const std::vector<FileFilter>& filters, bool multiple,
                                std::vector<std::string>* paths) {
  bool defaulted;
  Json answer = TakeAnswer({"cancel"}, "cancel", true, &defaulted);
  Json filter_list = Json::array();
  for (const FileFilter& f : filters)
    filter_list.push_back({{"name", f.name}, {"patterns", f.patterns}});
  bool chosen = false;
  paths->clear();
  if (answer.is_object()) {
    if (answer.contains("files") && answer["files"].is_array()) {
      // Only existing files given by their full paths can be chosen; an answer with any
      // other entry is refused as a whole.
      base::Status refused;
      for (const Json& f : answer["files"]) {
        refused = f.is_string() ? CheckChosenPath(f.get<std::string>())
                                : base::Status::Invalid("a path is not a string");
        if (!refused.ok()) break;
        paths->push_back(f);
      }
      if (!multiple && paths->size() > 1) paths->resize(1);
      chosen = refused.ok() && !paths->empty();
      if (!refused.ok()) channel_.EmitError("file chooser: " + refused.message());
    } else {
      channel_.EmitError("a file chooser takes {\"files\": [...]} or \"cancel\"");
    }
    if (!chosen) {
      answer = "cancel";
      paths->clear();
    }
  }
  Report({{"kind", "openFiles"}, {"text", ""}, {"caption", ""}, {"filters", filter_list}}, answer,
         defaulted);
  return chosen;
}

bool HeadlessDialogs::Form(FormSpec* form) {
  bool defaulted;
  Json answer = TakeAnswer({"ok", "cancel"}, "cancel", true, &defaulted);
  bool confirmed = answer.is_object() || answer == "ok";
  if (answer.is_object()) {
    for (auto& [key, value] : answer.items()) {
      // A lambda names the key through a reference of its own: clang before 16 cannot
      // capture a structured binding.
      const std::string& name = key;
      auto field = std::find_if(form->fields.begin(), form->fields.end(),
                                [&name](const FormField& f) { return f.name == name; });
      if (field == form->fields.end() || !value.is_string()) {
        channel_.EmitError("form \"" + form->kind + "\" has no text field \"" + key + "\"");
        continue;
      }
      if (!field->read_only) field->value = value.get<std::string>();
    }
  }
  Json fields = Json::object();
  for (const FormField& f : form->fields) fields[f.name] = f.secret ? std::string() : f.value;
  Report({{"kind", form->kind}, {"text", ""}, {"caption", form->title}, {"fields", fields}},
         confirmed ? Json("ok") : Json("cancel"), defaulted);
  return confirmed;
}

}  // namespace platform
