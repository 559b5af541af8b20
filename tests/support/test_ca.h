// A certificate authority of a test's own, made with the openssl program at test time in
// a temporary folder, and the server certificates it signs (or that sign themselves).
// The program under test is handed ca_file() through SSL_CERT_FILE, as any OpenSSL
// program would be.
#ifndef LUMORA_TESTS_SUPPORT_TEST_CA_H_
#define LUMORA_TESTS_SUPPORT_TEST_CA_H_

#include <optional>
#include <string>

#include "support/temp_dir.h"

class TestCa {
 public:
  struct Issued {
    std::string cert;  // PEM file of the certificate
    std::string key;   // PEM file of its key
  };

  TestCa();  // the test fails when openssl does
  const std::string& ca_file() const { return ca_file_; }

  // A server certificate named |name| for the subject alternative names |names|
  // ("IP:127.0.0.1", "DNS:other.test"), valid from now for |days| (-1: expired
  // yesterday), signed by this authority, or by itself when |self_signed|.
  Issued Issue(const std::string& name, const std::string& names, int days = 2,
               bool self_signed = false) const;

 private:
  TempDir dir_;
  std::string ca_file_;
};

// A trust store variable of this process (SSL_CERT_FILE, SSL_CERT_DIR) set to |value|
// (unset when empty) while the object lives, for code under test that runs in the test's
// own process.
class ScopedTrust {
 public:
  explicit ScopedTrust(const std::string& value, const char* name = "SSL_CERT_FILE");
  ~ScopedTrust();
  ScopedTrust(const ScopedTrust&) = delete;
  ScopedTrust& operator=(const ScopedTrust&) = delete;

 private:
  const char* name_;
  std::optional<std::string> old_;
};

#endif  // LUMORA_TESTS_SUPPORT_TEST_CA_H_
