#include "os/secret_store.h"

#include <libsecret/secret.h>
#include <sys/stat.h>

#include <cstdlib>
#include <memory>
#include <system_error>
#include <utility>

#include "base/callback_guard.h"

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

// The calls themselves; |cancellable| (may be null) ends a wait for the store early.
base::Status Store(const std::string& url, const std::string& user, const std::string& password,
                   const std::string& label, GCancellable* cancellable) {
  if (!SessionBusThere()) return base::Status::Unavailable(kNoBus);
  GError* raw = nullptr;
  const gboolean stored = secret_password_store_sync(
      Schema(), SECRET_COLLECTION_DEFAULT, label.c_str(), password.c_str(), cancellable, &raw,
      "url", url.c_str(), "user", user.c_str(), nullptr);
  Error error(raw);
  if (!stored || error) return Failed("secret store: cannot keep the password", error);
  return base::Status::Ok();
}

base::Status LookUp(const std::string& url, const std::string& user, std::string* password,
                    GCancellable* cancellable) {
  password->clear();
  if (!SessionBusThere()) return base::Status::Unavailable(kNoBus);
  GError* raw = nullptr;
  gchar* found = secret_password_lookup_sync(Schema(), cancellable, &raw, "url", url.c_str(),
                                             "user", user.c_str(), nullptr);
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

base::Status Clear(const std::string& url, const std::string& user, GCancellable* cancellable) {
  if (!SessionBusThere()) return base::Status::Unavailable(kNoBus);
  GError* raw = nullptr;
  (void)secret_password_clear_sync(Schema(), cancellable, &raw, "url", url.c_str(), "user",
                                   user.c_str(), nullptr);
  Error error(raw);
  if (error) return Failed("secret store: cannot forget the password", error);
  return base::Status::Ok();
}

}  // namespace

void SecretStoreWorker::CancellableUnref::operator()(GCancellable* cancellable) const noexcept {
  g_object_unref(cancellable);
}

SecretStoreWorker::SecretStoreWorker(MainLoop& loop) : loop_(loop) {}

SecretStoreWorker::~SecretStoreWorker() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    std::erase_if(jobs_, [](const Job& job) { return job.look_up; });
    if (looking_up_) g_cancellable_cancel(looking_up_.get());
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void SecretStoreWorker::Store(const std::string& url, const std::string& user,
                              const std::string& password, const std::string& label, Done done) {
  Add({[url, user, password, label](GCancellable* cancellable, std::string*) {
         return os::Store(url, user, password, label, cancellable);
       },
       std::move(done)});
}

void SecretStoreWorker::LookUp(const std::string& url, const std::string& user, Done done) {
  Add({[url, user](GCancellable* cancellable, std::string* password) {
         return os::LookUp(url, user, password, cancellable);
       },
       std::move(done), true});
}

void SecretStoreWorker::Clear(const std::string& url, const std::string& user, Done done) {
  Add({[url, user](GCancellable* cancellable, std::string*) {
         return os::Clear(url, user, cancellable);
       },
       std::move(done)});
}

void SecretStoreWorker::Add(Job job) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (stopping_) return;
  if (!thread_.joinable()) {
    try {
      thread_ = std::thread(&SecretStoreWorker::Run, this);
    } catch (const std::system_error& e) {
      // No thread: the call is not made, and its caller hears so on the loop.
      lock.unlock();
      loop_.Post([done = std::move(job.done), what = std::string(e.what())] {
        if (done) done(base::Status::Unavailable("secret store: no thread: " + what), {});
      });
      return;
    }
  }
  jobs_.push_back(std::move(job));
  lock.unlock();
  wake_.notify_one();
}

void SecretStoreWorker::Run() noexcept {
  base::Guarded("secret store", [this] {
    for (;;) {
      Job job;
      Cancellable cancellable(g_cancellable_new());
      {
        std::unique_lock<std::mutex> lock(mutex_);
        wake_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
        if (jobs_.empty()) return;  // stopping, with nothing left to keep or forget
        job = std::move(jobs_.front());
        jobs_.pop_front();
        if (job.look_up) looking_up_.reset(G_CANCELLABLE(g_object_ref(cancellable.get())));
      }
      std::string password;
      base::Status status = job.call(cancellable.get(), &password);
      std::lock_guard<std::mutex> lock(mutex_);
      looking_up_.reset();
      // Once the owner is going its callers hear nothing more.
      if (!stopping_ && job.done)
        loop_.Post([done = std::move(job.done), status = std::move(status),
                    password = std::move(password)] { done(status, password); });
    }
  });
}

}  // namespace os
