#include "tests/support/test_certificates.h"

#ifdef QUILLO_HAVE_TLS

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdio>

namespace quillo::test {

namespace {

constexpr long kSecondsPerDay = 24 * 60 * 60;

struct KeyFree {
  void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
};
struct CertFree {
  void operator()(X509* p) const { X509_free(p); }
};
using Key = std::unique_ptr<EVP_PKEY, KeyFree>;
using Cert = std::unique_ptr<X509, CertFree>;

// P-256 keys: quick to make, and every TLS stack takes them.
Key NewKey() { return Key(EVP_EC_gen("P-256")); }

bool AddExtension(X509* cert, X509* issuer, int nid, const std::string& value) {
  X509V3_CTX ctx;
  X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
  X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value.c_str());
  if (!ext) return false;
  const bool added = X509_add_ext(cert, ext, -1) == 1;
  X509_EXTENSION_free(ext);
  return added;
}

// A certificate for `key` named `commonName`, not yet signed; self-issued
// when `issuer` is null.
Cert NewCertificate(EVP_PKEY* key, const std::string& commonName, X509* issuer, long serial, long fromDays,
                    long toDays) {
  Cert cert(X509_new());
  if (!cert) return nullptr;
  X509* c = cert.get();
  X509_set_version(c, 2);
  ASN1_INTEGER_set(X509_get_serialNumber(c), serial);
  X509_gmtime_adj(X509_getm_notBefore(c), fromDays * kSecondsPerDay);
  X509_gmtime_adj(X509_getm_notAfter(c), toDays * kSecondsPerDay);
  X509_set_pubkey(c, key);
  X509_NAME* name = X509_get_subject_name(c);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(commonName.c_str()), -1,
                             -1, 0);
  X509_set_issuer_name(c, issuer ? X509_get_subject_name(issuer) : name);
  return cert;
}

bool WritePem(const std::string& path, X509* cert, EVP_PKEY* key) {
  FILE* f = std::fopen(path.c_str(), "w");
  if (!f) return false;
  const bool ok = cert ? PEM_write_X509(f, cert) == 1
                       : PEM_write_PrivateKey(f, key, nullptr, nullptr, 0, nullptr, nullptr) == 1;
  return std::fclose(f) == 0 && ok;
}

}  // namespace

struct TestAuthority::Keys {
  Key key;
  Cert cert;
};

TestAuthority::TestAuthority(const std::string& dir, const std::string& name)
    : keys_(std::make_unique<Keys>()), dir_(dir) {
  keys_->key = NewKey();
  if (!keys_->key) return;
  Cert cert = NewCertificate(keys_->key.get(), name + " test authority", nullptr, serial_++, -1, 365);
  if (!cert || !AddExtension(cert.get(), cert.get(), NID_basic_constraints, "critical,CA:TRUE") ||
      !AddExtension(cert.get(), cert.get(), NID_key_usage, "critical,keyCertSign,cRLSign") ||
      !AddExtension(cert.get(), cert.get(), NID_subject_key_identifier, "hash") ||
      X509_sign(cert.get(), keys_->key.get(), EVP_sha256()) == 0)
    return;
  const std::string path = dir + "/" + name + "-ca.pem";
  if (!WritePem(path, cert.get(), nullptr)) return;
  keys_->cert = std::move(cert);
  caFile_ = path;
}

TestAuthority::~TestAuthority() = default;

bool TestAuthority::Ok() const { return keys_->cert != nullptr; }

IssuedCertificate TestAuthority::Issue(const std::string& name, const std::string& altNames, long fromDays,
                                       long toDays) {
  if (!Ok()) return {};
  Key key = NewKey();
  if (!key) return {};
  X509* issuer = keys_->cert.get();
  Cert cert = NewCertificate(key.get(), name, issuer, serial_++, fromDays, toDays);
  if (!cert || !AddExtension(cert.get(), issuer, NID_basic_constraints, "critical,CA:FALSE") ||
      !AddExtension(cert.get(), issuer, NID_ext_key_usage, "serverAuth") ||
      !AddExtension(cert.get(), issuer, NID_subject_alt_name, altNames) ||
      !AddExtension(cert.get(), issuer, NID_authority_key_identifier, "keyid:always") ||
      X509_sign(cert.get(), keys_->key.get(), EVP_sha256()) == 0)
    return {};
  IssuedCertificate issued{dir_ + "/" + name + ".pem", dir_ + "/" + name + ".key"};
  if (!WritePem(issued.certFile, cert.get(), nullptr) || !WritePem(issued.keyFile, nullptr, key.get())) return {};
  return issued;
}

}  // namespace quillo::test

#endif
