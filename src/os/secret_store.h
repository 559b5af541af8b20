// The desktop's secret store (the Secret Service, through libsecret): the password of an
// OPDS catalogue kept under the schema "app.lumora.OpdsCatalogue" with the attributes url
// and user. Where no store runs (no session bus, or no service answers) nothing is kept
// and every call is Unavailable. Texts are UTF-8.
#ifndef LUMORA_OS_SECRET_STORE_H_
#define LUMORA_OS_SECRET_STORE_H_

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "base/status.h"
#include "os/main_loop.h"

typedef struct _GCancellable GCancellable;

namespace os {

inline constexpr const char* kOpdsSecretSchema = "app.lumora.OpdsCatalogue";

// The store's calls, made one at a time in the order asked on a thread of its own: a
// store that is slow or locked (it may show an unlock prompt) never holds up the thread
// of |loop|, where each call's |done| runs with its result.
class SecretStoreWorker {
 public:
  // The result of a call, and the password found (look-up only).
  using Done = std::function<void(const base::Status& status, const std::string& password)>;

  explicit SecretStoreWorker(MainLoop& loop);
  // Waits until the passwords asked to be kept or forgotten are (a password the user
  // gave is not lost at the end of the program); a look-up under way is cancelled and
  // those waiting dropped. No |done| runs any more.
  ~SecretStoreWorker();
  SecretStoreWorker(const SecretStoreWorker&) = delete;
  SecretStoreWorker& operator=(const SecretStoreWorker&) = delete;

  // Keeps |password| for |url| and |user| (replacing one kept before), labelled |label|.
  void Store(const std::string& url, const std::string& user, const std::string& password,
             const std::string& label, Done done);
  // The password kept for |url| and |user|: NotFound when none is.
  void LookUp(const std::string& url, const std::string& user, Done done);
  // Forgets the password of |url| and |user|; Ok when none was kept.
  void Clear(const std::string& url, const std::string& user, Done done);

 private:
  struct Job {
    std::function<base::Status(GCancellable*, std::string*)> call;
    Done done;
    bool look_up = false;
  };
  struct CancellableUnref {
    void operator()(GCancellable* cancellable) const noexcept;
  };
  using Cancellable = std::unique_ptr<GCancellable, CancellableUnref>;
  void Add(Job job);
  void Run() noexcept;

  MainLoop& loop_;
  std::mutex mutex_;
  Cancellable looking_up_;  // the look-up under way, if any
  std::condition_variable wake_;
  std::deque<Job> jobs_;
  bool stopping_ = false;
  std::thread thread_;  // started with the first call
};

}  // namespace os

#endif  // LUMORA_OS_SECRET_STORE_H_
