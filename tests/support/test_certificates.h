// Certificates made by the tests themselves: a private authority and the
// server certificates it issues, written as PEM files into a directory the
// caller owns. Only in builds with TLS.
#pragma once

#ifdef QUILLO_HAVE_TLS

#include <memory>
#include <string>

namespace quillo::test {

struct IssuedCertificate {
  std::string certFile;
  std::string keyFile;
};

class TestAuthority {
 public:
  // A self-signed authority named `name`; its certificate goes to
  // `dir`/`name`-ca.pem. Ok() is false when anything failed.
  TestAuthority(const std::string& dir, const std::string& name);
  ~TestAuthority();
  TestAuthority(const TestAuthority&) = delete;
  TestAuthority& operator=(const TestAuthority&) = delete;

  bool Ok() const;
  // The PEM file to trust this authority with (the cafile setting).
  const std::string& CaFile() const { return caFile_; }

  // Issues a server certificate for `altNames` ("IP:127.0.0.1",
  // "DNS:localhost", comma-separated), valid from `fromDays` to `toDays`
  // days from now (negative: in the past). Files `dir`/`name`.pem and
  // `dir`/`name`.key; empty names when anything failed.
  IssuedCertificate Issue(const std::string& name, const std::string& altNames, long fromDays = -1,
                          long toDays = 30);

 private:
  struct Keys;
  std::unique_ptr<Keys> keys_;
  std::string dir_;
  std::string caFile_;
  long serial_ = 1;
};

}  // namespace quillo::test

#endif
