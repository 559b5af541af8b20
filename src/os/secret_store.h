// The desktop's secret store (the Secret Service, through libsecret): the password of an
// OPDS catalogue kept under the schema "app.lumora.OpdsCatalogue" with the attributes url
// and user. Where no store runs (no session bus, or no service answers) nothing is kept
// and every call is Unavailable. Texts are UTF-8. The calls wait for the store.
#ifndef LUMORA_OS_SECRET_STORE_H_
#define LUMORA_OS_SECRET_STORE_H_

#include <string>

#include "base/status.h"

namespace os {

inline constexpr const char* kOpdsSecretSchema = "app.lumora.OpdsCatalogue";

// Keeps |password| for |url| and |user| (replacing one kept before), labelled |label|.
[[nodiscard]] base::Status StoreOpdsPassword(const std::string& url, const std::string& user,
                                             const std::string& password, const std::string& label);
// The password kept for |url| and |user|: NotFound when none is.
[[nodiscard]] base::Status LookUpOpdsPassword(const std::string& url, const std::string& user,
                                              std::string* password);
// Forgets the password of |url| and |user|; Ok when none was kept.
[[nodiscard]] base::Status ClearOpdsPassword(const std::string& url, const std::string& user);

}  // namespace os

#endif  // LUMORA_OS_SECRET_STORE_H_
