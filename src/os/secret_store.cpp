#include "os/secret_store.h"

#include <libsecret/secret.h>
#include <sys/stat.h>

#include <cstdlib>
#include <memory>

namespace os {

namespace {

struct ErrorFree {
  void operator()(GError* error) const { g_error_free(error); }
};
using Error = std::unique_ptr<GError, ErrorFree>;

const SecretSchema* Schema() {
  static const SecretSchema schema = [] {
    SecretSchema s{};
    s.name = kOpdsSecretSchema;
    s.flags = SECRET_SCHEMA_NONE;
    s.attributes[0] = {"url", SECRET_SCHEMA_ATTRIBUTE_STRING};
    s.attributes[1] = {"user", SECRET_SCHEMA_ATTRIBUTE_STRING};
    s.attributes[2] = {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING};
    return s;
  }();
  return &schema;
}

// A session bus to reach the store on: named in the environment, or the user's bus
// socket in the runtime folder. Without one libsecret is not asked at all (it would try
// to start a bus of its own).
bool SessionBusThere() {
  const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
  if (address && *address) return true;
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (!runtime || !*runtime) return false;
  struct stat st {};
  return ::stat((std::string(runtime) + "/bus").c_str(), &st) == 0 && S_ISSOCK(st.st_mode);
}

base::Status Failed(const char* what, const Error& error) {
  return base::Status::Unavailable(std::string(what) + ": " +
                                   (error && error->message ? error->message : "no secret store"));
}

constexpr const char* kNoBus = "secret store: no session bus";

}  // namespace

base::Status StoreOpdsPassword(const std::string& url, const std::string& user,
                               const std::string& password, const std::string& label) {
  if (!SessionBusThere()) return base::Status::Unavailable(kNoBus);
  GError* raw = nullptr;
  const gboolean stored = secret_password_store_sync(
      Schema(), SECRET_COLLECTION_DEFAULT, label.c_str(), password.c_str(), nullptr, &raw, "url",
      url.c_str(), "user", user.c_str(), nullptr);
  Error error(raw);
  if (!stored || error) return Failed("secret store: cannot keep the password", error);
  return base::Status::Ok();
}

base::Status LookUpOpdsPassword(const std::string& url, const std::string& user,
                                std::string* password) {
  password->clear();
  if (!SessionBusThere()) return base::Status::Unavailable(kNoBus);
  GError* raw = nullptr;
  gchar* found = secret_password_lookup_sync(Schema(), nullptr, &raw, "url", url.c_str(), "user",
                                             user.c_str(), nullptr);
  Error error(raw);
  if (error) {
    if (found) secret_password_free(found);
    return Failed("secret store: cannot look the password up", error);
  }
  if (!found) return base::Status::NotFound("secret store: no password kept");
  *password = found;
  secret_password_free(found);
  return base::Status::Ok();
}

base::Status ClearOpdsPassword(const std::string& url, const std::string& user) {
  if (!SessionBusThere()) return base::Status::Unavailable(kNoBus);
  GError* raw = nullptr;
  (void)secret_password_clear_sync(Schema(), nullptr, &raw, "url", url.c_str(), "user",
                                   user.c_str(), nullptr);
  Error error(raw);
  if (error) return Failed("secret store: cannot forget the password", error);
  return base::Status::Ok();
}

}  // namespace os
