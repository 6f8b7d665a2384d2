// The TLS sessions of the Windows build, on Schannel, the system's own TLS,
// linked into the program. Schannel only speaks the protocol here: it is told
// to leave the certificate alone, which is then checked against the system's
// trusted certificates and those of cafile, and for the host name, so that a
// refusal reads as it does on every other system.
//
// The two system libraries are loaded when a session first starts, not with
// the program: loading them costs every run, TLS or not, a large part of its
// start-up.
#include <winsock2.h>

// In this order, each using the types of the one before.
// clang-format off
#include <windows.h>
#include <wincrypt.h>
#include <schannel.h>
#define SECURITY_WIN32
#include <security.h>
// clang-format on

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "platform/text_file.h"
#include "platform/tls_session.h"
#include "platform/win32/tls_checks.h"
#include "platform/win32/wide.h"

namespace quillo {

namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kChunk = 16 * 1024;
// What a handshake may send before Schannel takes it: a long chain fits.
constexpr size_t kHandshakeLimit = 256 * 1024;
// A bundle of every public authority is a few hundred kilobytes.
constexpr size_t kCaFileLimit = 8 * 1024 * 1024;
// The closing alert is a courtesy: a peer that takes nothing more is not waited for long.
constexpr int kEndWaitSeconds = 1;
// A server asking for a client certificate is answered without one; asking on is a fault.
constexpr int kCredentialRounds = 2;

constexpr ULONG kRequest = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT | ISC_REQ_CONFIDENTIALITY |
                           ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM | ISC_REQ_MANUAL_CRED_VALIDATION;

const char* const kStopped = "the server stopped answering";
const char* const kBroke = "the connection broke";

// The calls of the system's TLS (secur32.dll) and certificate (crypt32.dll)
// libraries, loaded from the system directory once, when first needed.
struct SystemTls {
  bool loaded = false;
  SecurityFunctionTableW sspi{};
  decltype(&::CertAddCertificateContextToStore) CertAddCertificateContextToStore = nullptr;
  decltype(&::CertAddEncodedCertificateToStore) CertAddEncodedCertificateToStore = nullptr;
  decltype(&::CertCloseStore) CertCloseStore = nullptr;
  decltype(&::CertEnumCertificatesInStore) CertEnumCertificatesInStore = nullptr;
  decltype(&::CertFindExtension) CertFindExtension = nullptr;
  decltype(&::CertFreeCertificateChain) CertFreeCertificateChain = nullptr;
  decltype(&::CertFreeCertificateContext) CertFreeCertificateContext = nullptr;
  decltype(&::CertGetCertificateChain) CertGetCertificateChain = nullptr;
  decltype(&::CertOpenStore) CertOpenStore = nullptr;
  decltype(&::CertRDNValueToStrW) CertRDNValueToStrW = nullptr;
  decltype(&::CertVerifyTimeValidity) CertVerifyTimeValidity = nullptr;
  decltype(&::CryptDecodeObjectEx) CryptDecodeObjectEx = nullptr;
  decltype(&::CryptStringToBinaryA) CryptStringToBinaryA = nullptr;
};

// A library of the system directory only: never one planted beside the
// program or in the current directory. Kept loaded for the rest of the run.
HMODULE SystemLibrary(const wchar_t* name) {
  wchar_t directory[MAX_PATH];
  const UINT length = ::GetSystemDirectoryW(directory, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return nullptr;
  return ::LoadLibraryW((std::wstring(directory, length) + L"\\" + name).c_str());
}

template <typename Function>
bool Find(HMODULE library, const char* name, Function& function) {
  const FARPROC found = library ? ::GetProcAddress(library, name) : nullptr;
  // Through the generic function type, which any function pointer converts from and to.
  function = reinterpret_cast<Function>(reinterpret_cast<void (*)()>(found));
  return found != nullptr;
}

SystemTls LoadSystemTls() {
  SystemTls api;
  const HMODULE secur32 = SystemLibrary(L"secur32.dll");
  const HMODULE crypt32 = SystemLibrary(L"crypt32.dll");
  decltype(&::InitSecurityInterfaceW) initialize = nullptr;
  if (!Find(secur32, "InitSecurityInterfaceW", initialize)) return api;
  const SecurityFunctionTableW* table = initialize();
  if (!table || !table->AcquireCredentialsHandleW || !table->InitializeSecurityContextW ||
      !table->FreeCredentialsHandle || !table->DeleteSecurityContext || !table->ApplyControlToken ||
      !table->QueryContextAttributesW || !table->FreeContextBuffer || !table->EncryptMessage || !table->DecryptMessage)
    return api;
  api.sspi = *table;
  api.loaded = Find(crypt32, "CertAddCertificateContextToStore", api.CertAddCertificateContextToStore) &&
               Find(crypt32, "CertAddEncodedCertificateToStore", api.CertAddEncodedCertificateToStore) &&
               Find(crypt32, "CertCloseStore", api.CertCloseStore) &&
               Find(crypt32, "CertEnumCertificatesInStore", api.CertEnumCertificatesInStore) &&
               Find(crypt32, "CertFindExtension", api.CertFindExtension) &&
               Find(crypt32, "CertFreeCertificateChain", api.CertFreeCertificateChain) &&
               Find(crypt32, "CertFreeCertificateContext", api.CertFreeCertificateContext) &&
               Find(crypt32, "CertGetCertificateChain", api.CertGetCertificateChain) &&
               Find(crypt32, "CertOpenStore", api.CertOpenStore) &&
               Find(crypt32, "CertRDNValueToStrW", api.CertRDNValueToStrW) &&
               Find(crypt32, "CertVerifyTimeValidity", api.CertVerifyTimeValidity) &&
               Find(crypt32, "CryptDecodeObjectEx", api.CryptDecodeObjectEx) &&
               Find(crypt32, "CryptStringToBinaryA", api.CryptStringToBinaryA);
  return api;
}

// Every call below goes through here; a session uses none before its Start
// has found them loaded.
const SystemTls& Api() {
  static const SystemTls api = LoadSystemTls();
  return api;
}

int SecondsLeft(Clock::time_point deadline) {
  if (deadline == Clock::time_point::max()) return 0;
  auto left = std::chrono::duration_cast<std::chrono::seconds>(deadline - Clock::now()).count() + 1;
  return left < 1 ? 1 : (left > INT_MAX ? INT_MAX : static_cast<int>(left));
}

// Words for what Schannel refused, as far as a user can act on them.
std::string StatusText(SECURITY_STATUS status) {
  switch (status) {
    case SEC_E_ALGORITHM_MISMATCH:
      return "no protocol version or cipher in common with the server";
    case SEC_E_ILLEGAL_MESSAGE:
      return "the server's answer is no TLS handshake";
    case SEC_E_MESSAGE_ALTERED:
      return "the handshake was altered";
    case SEC_E_DECRYPT_FAILURE:
      return "decryption failed";
    case SEC_E_UNSUPPORTED_FUNCTION:
      return "unsupported protocol";
    case SEC_E_INSUFFICIENT_MEMORY:
      return "out of memory";
    case SEC_E_INTERNAL_ERROR:
      return "internal error";
    case SEC_E_NO_CREDENTIALS:
      return "the server asks for a client certificate";
    case SEC_E_INVALID_TOKEN:
      return "invalid token";
    default:
      break;
  }
  char text[32];
  std::snprintf(text, sizeof text, "error 0x%08lX", static_cast<unsigned long>(status));
  return text;
}

struct CertificateFree {
  void operator()(PCCERT_CONTEXT p) const { Api().CertFreeCertificateContext(p); }
};
using CertificatePtr = std::unique_ptr<const CERT_CONTEXT, CertificateFree>;

struct StoreClose {
  void operator()(HCERTSTORE p) const { Api().CertCloseStore(p, 0); }
};
using Store = std::unique_ptr<void, StoreClose>;

struct ChainFree {
  void operator()(PCCERT_CHAIN_CONTEXT p) const { Api().CertFreeCertificateChain(p); }
};
using Chain = std::unique_ptr<const CERT_CHAIN_CONTEXT, ChainFree>;

struct LocalMemoryFree {
  void operator()(void* p) const { ::LocalFree(p); }
};

// A structure CryptDecodeObjectEx decoded; null when it could not.
template <typename T>
std::unique_ptr<T, LocalMemoryFree> Decode(LPCSTR type, const BYTE* data, DWORD size) {
  void* decoded = nullptr;
  DWORD decodedSize = 0;
  if (!Api().CryptDecodeObjectEx(X509_ASN_ENCODING, type, data, size, CRYPT_DECODE_ALLOC_FLAG, nullptr, &decoded,
                                 &decodedSize))
    return nullptr;
  return std::unique_ptr<T, LocalMemoryFree>(static_cast<T*>(decoded));
}

std::string Utf8(std::wstring_view wide) { return win32::Narrow(wide, CP_UTF8); }

std::string AttributeValue(const CERT_RDN_ATTR& attribute) {
  const DWORD length =
      Api().CertRDNValueToStrW(attribute.dwValueType, const_cast<CERT_RDN_VALUE_BLOB*>(&attribute.Value), nullptr, 0);
  if (length <= 1) return {};
  std::wstring wide(length, L'\0');
  Api().CertRDNValueToStrW(attribute.dwValueType, const_cast<CERT_RDN_VALUE_BLOB*>(&attribute.Value), wide.data(),
                           length);
  wide.resize(length - 1);
  return Utf8(wide);
}

// A name as RFC 2253 writes it: the last part first, "CN=...,O=...".
std::string NameText(const CERT_NAME_BLOB& name) {
  auto info = Decode<CERT_NAME_INFO>(X509_NAME, name.pbData, name.cbData);
  if (!info) return {};
  std::string text;
  for (DWORD i = info->cRDN; i-- > 0;) {
    const CERT_RDN& rdn = info->rgRDN[i];
    for (DWORD j = 0; j < rdn.cRDNAttr; ++j) {
      if (!text.empty()) text += j == 0 ? "," : "+";
      const CERT_RDN_ATTR& attribute = rdn.rgRDNAttr[j];
      text += win32::AttributeName(attribute.pszObjId ? attribute.pszObjId : "");
      text += '=';
      text += win32::Rfc2253Value(AttributeValue(attribute));
    }
  }
  return text;
}

win32::CertificateNames NamesOf(PCCERT_CONTEXT certificate) {
  win32::CertificateNames names;
  const CERT_INFO* info = certificate->pCertInfo;
  if (PCERT_EXTENSION extension =
          Api().CertFindExtension(szOID_SUBJECT_ALT_NAME2, info->cExtension, info->rgExtension)) {
    if (auto alt = Decode<CERT_ALT_NAME_INFO>(X509_ALTERNATE_NAME, extension->Value.pbData, extension->Value.cbData)) {
      for (DWORD i = 0; i < alt->cAltEntry; ++i) {
        const CERT_ALT_NAME_ENTRY& entry = alt->rgAltEntry[i];
        if (entry.dwAltNameChoice == CERT_ALT_NAME_DNS_NAME && entry.pwszDNSName) {
          names.dnsNames.push_back(Utf8(entry.pwszDNSName));
        } else if (entry.dwAltNameChoice == CERT_ALT_NAME_IP_ADDRESS) {
          names.addresses.emplace_back(reinterpret_cast<const char*>(entry.IPAddress.pbData), entry.IPAddress.cbData);
        }
      }
    }
  }
  if (auto subject = Decode<CERT_NAME_INFO>(X509_NAME, info->Subject.pbData, info->Subject.cbData)) {
    for (DWORD i = 0; i < subject->cRDN; ++i) {
      const CERT_RDN& rdn = subject->rgRDN[i];
      for (DWORD j = 0; j < rdn.cRDNAttr; ++j) {
        const char* oid = rdn.rgRDNAttr[j].pszObjId;
        if (oid && std::strcmp(oid, szOID_COMMON_NAME) == 0)
          names.commonNames.push_back(AttributeValue(rdn.rgRDNAttr[j]));
      }
    }
  }
  return names;
}

TlsCertificate Described(PCCERT_CONTEXT certificate) {
  TlsCertificate described;
  described.seen = true;
  described.subject = NameText(certificate->pCertInfo->Subject);
  described.issuer = NameText(certificate->pCertInfo->Issuer);
  SYSTEMTIME expires{};
  if (::FileTimeToSystemTime(&certificate->pCertInfo->NotAfter, &expires)) {
    described.expires = win32::CertificateTimeText(expires);
  }
  return described;
}

// The certificates of a PEM file, each as its DER bytes; false when the file
// cannot be read or holds none.
bool ReadCaFile(const std::string& path, std::vector<std::string>& certificates) {
  InputFile in;
  if (!in.Open(path, false)) return false;
  std::string pem;
  std::string block;
  while (pem.size() <= kCaFileLimit && in.ReadBlock(block, kChunk)) pem += block;
  if (in.HadError() || pem.size() > kCaFileLimit) return false;
  for (std::string_view body : win32::PemCertificateBodies(pem)) {
    const DWORD length = static_cast<DWORD>(body.size());
    DWORD size = 0;
    if (!Api().CryptStringToBinaryA(body.data(), length, CRYPT_STRING_BASE64, nullptr, &size, nullptr, nullptr) ||
        size == 0)
      return false;
    std::string der(size, '\0');
    if (!Api().CryptStringToBinaryA(body.data(), length, CRYPT_STRING_BASE64, reinterpret_cast<BYTE*>(der.data()),
                                    &size, nullptr, nullptr))
      return false;
    der.resize(size);
    certificates.push_back(std::move(der));
  }
  return !certificates.empty();
}

// A store of `certificates` and of what the server sent beside its own.
Store ChainingStore(PCCERT_CONTEXT server, const std::vector<std::string>& certificates) {
  Store store(Api().CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, CERT_STORE_CREATE_NEW_FLAG, nullptr));
  if (!store) return nullptr;
  for (const std::string& der : certificates) {
    Api().CertAddEncodedCertificateToStore(store.get(), X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()),
                                           static_cast<DWORD>(der.size()), CERT_STORE_ADD_ALWAYS, nullptr);
  }
  if (server->hCertStore) {
    PCCERT_CONTEXT sent = nullptr;
    while ((sent = Api().CertEnumCertificatesInStore(server->hCertStore, sent)) != nullptr) {
      Api().CertAddCertificateContextToStore(store.get(), sent, CERT_STORE_ADD_USE_EXISTING, nullptr);
    }
  }
  return store;
}

bool IsOneOf(PCCERT_CONTEXT certificate, const std::vector<std::string>& certificates) {
  const std::string_view der(reinterpret_cast<const char*>(certificate->pbCertEncoded), certificate->cbCertEncoded);
  return std::find(certificates.begin(), certificates.end(), der) != certificates.end();
}

// Why the server's certificate is refused; nothing when it is accepted:
// its chain ends at a root the system trusts or at one of `trusted`, it is
// good for a TLS server, for `host`, and for now.
std::string Refusal(PCCERT_CONTEXT server, const std::string& host, const std::vector<std::string>& trusted) {
  Store store = ChainingStore(server, trusted);
  if (!store) return "certificate rejected";
  static char serverAuth[] = szOID_PKIX_KP_SERVER_AUTH;
  static LPSTR usages[] = {serverAuth};
  CERT_CHAIN_PARA para{};
  para.cbSize = sizeof para;
  para.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
  para.RequestedUsage.Usage.cUsageIdentifier = 1;
  para.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
  PCCERT_CHAIN_CONTEXT built = nullptr;
  if (!Api().CertGetCertificateChain(nullptr, server, nullptr, store.get(), &para, 0, nullptr, &built) || !built) {
    return "certificate rejected";
  }
  Chain chain(built);
  if (chain->cChain < 1 || chain->rgpChain[0]->cElement < 1) return "certificate rejected";
  const CERT_SIMPLE_CHAIN& simple = *chain->rgpChain[0];
  DWORD status = chain->TrustStatus.dwErrorStatus;
  const CERT_CHAIN_ELEMENT& top = *simple.rgpElement[simple.cElement - 1];
  if ((status & CERT_TRUST_IS_UNTRUSTED_ROOT) && !(status & CERT_TRUST_IS_PARTIAL_CHAIN) &&
      IsOneOf(top.pCertContext, trusted)) {
    status &= ~static_cast<DWORD>(CERT_TRUST_IS_UNTRUSTED_ROOT);
  }
  bool notYetValid = false;
  for (DWORD i = 0; i < simple.cElement; ++i) {
    if (Api().CertVerifyTimeValidity(nullptr, simple.rgpElement[i]->pCertContext->pCertInfo) < 0) notYetValid = true;
  }
  return win32::ChainRefusal(status, simple.cElement, notYetValid, win32::HostRefusal(host, NamesOf(server)));
}

// The protocol from the SP_PROT_* flags of the connection's information.
std::string ProtocolName(DWORD flags) {
  if (flags & SP_PROT_TLS1_3_CLIENT) return "TLSv1.3";
  if (flags & SP_PROT_TLS1_2_CLIENT) return "TLSv1.2";
  if (flags & SP_PROT_TLS1_1_CLIENT) return "TLSv1.1";
  if (flags & SP_PROT_TLS1_0_CLIENT) return "TLSv1";
  return "TLS";
}

// The protocol from the version number on the wire, as the cipher's
// information gives it (0x0303 for TLS 1.2).
std::string WireVersionName(DWORD version) {
  switch (version) {
    case 0x0304:
      return "TLSv1.3";
    case 0x0303:
      return "TLSv1.2";
    case 0x0302:
      return "TLSv1.1";
    case 0x0301:
      return "TLSv1";
    default:
      return "TLS";
  }
}

// A name of the system's that reads as an algorithm's name ("TLS_AES_256_GCM_SHA384").
bool IsCleanName(std::wstring_view name) {
  if (name.empty()) return false;
  for (wchar_t c : name) {
    if (!((c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z') || (c >= L'0' && c <= L'9') || c == L'_' || c == L'-'))
      return false;
  }
  return true;
}

std::wstring_view Terminated(const WCHAR (&name)[SZ_ALG_MAX_SIZE]) {
  size_t length = 0;
  while (length < SZ_ALG_MAX_SIZE && name[length]) ++length;
  return std::wstring_view(name, length);
}

class SchannelSession : public TlsSession {
 public:
  explicit SchannelSession(const TlsSocketCalls& calls) : calls_(calls) {}
  ~SchannelSession() override { Reset(); }
  SchannelSession(const SchannelSession&) = delete;
  SchannelSession& operator=(const SchannelSession&) = delete;

  bool Start(const SocketHandle& socket, const TlsPeer& peer, std::string& reason) override;
  void End(const SocketHandle& socket) override;
  std::string Description() const override { return description_; }
  TlsCertificate Certificate() const override { return certificate_; }
  long Receive(const SocketHandle& socket, char* buffer, size_t size, int timeoutSeconds) override;
  long Send(const SocketHandle& socket, std::string_view data, int timeoutSeconds) override;

 private:
  enum class Opened { kRecord, kMore, kClosed, kFailed };

  bool Acquire(std::string& reason);
  SECURITY_STATUS Initialize(SecBufferDesc* input, std::string& token);
  bool Handshake(const SocketHandle& socket, Clock::time_point deadline, std::string& reason);
  bool Verify(const TlsPeer& peer, const std::vector<std::string>& trusted, std::string& reason);
  void Describe();
  long Fill(const SocketHandle& socket, int timeoutSeconds);
  Opened OpenRecord(const SocketHandle& socket, int timeoutSeconds);
  void KeepUntaken(const SecBuffer& extra);
  void Reset();

  TlsSocketCalls calls_;
  CredHandle credentials_{};
  bool haveCredentials_ = false;
  CtxtHandle context_{};
  bool haveContext_ = false;
  bool established_ = false;
  bool peerClosed_ = false;
  std::wstring target_;   // the server name for SNI; empty for an address
  std::string incoming_;  // received and not yet taken by Schannel
  std::string plain_;     // decrypted and not yet read
  size_t plainAt_ = 0;
  SecPkgContext_StreamSizes sizes_{};
  std::string description_;
  TlsCertificate certificate_;
};

void SchannelSession::Reset() {
  if (haveContext_) Api().sspi.DeleteSecurityContext(&context_);
  if (haveCredentials_) Api().sspi.FreeCredentialsHandle(&credentials_);
  haveContext_ = haveCredentials_ = established_ = peerClosed_ = false;
  incoming_.clear();
  plain_.clear();
  plainAt_ = 0;
  description_.clear();
}

bool SchannelSession::Acquire(std::string& reason) {
  SCHANNEL_CRED cred{};
  cred.dwVersion = SCHANNEL_CRED_VERSION;
  cred.dwFlags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS | SCH_USE_STRONG_CRYPTO;
  // TLS 1.2 at least; a system that knows no TLS 1.3 refuses to be asked for it.
  for (DWORD protocols : {DWORD{SP_PROT_TLS1_2_CLIENT | SP_PROT_TLS1_3_CLIENT}, DWORD{SP_PROT_TLS1_2_CLIENT}}) {
    cred.grbitEnabledProtocols = protocols;
    TimeStamp expiry{};
    SECURITY_STATUS status =
        Api().sspi.AcquireCredentialsHandleW(nullptr, const_cast<SEC_WCHAR*>(UNISP_NAME_W), SECPKG_CRED_OUTBOUND,
                                             nullptr, &cred, nullptr, nullptr, &credentials_, &expiry);
    if (status == SEC_E_OK) {
      haveCredentials_ = true;
      return true;
    }
    if (protocols == SP_PROT_TLS1_2_CLIENT) reason = "cannot set up TLS: " + StatusText(status);
  }
  return false;
}

// One call of the handshake: what it gives to send goes into `token`.
SECURITY_STATUS SchannelSession::Initialize(SecBufferDesc* input, std::string& token) {
  SecBuffer out[1] = {{0, SECBUFFER_TOKEN, nullptr}};
  SecBufferDesc outDesc{SECBUFFER_VERSION, 1, out};
  ULONG attributes = 0;
  SEC_WCHAR* target = target_.empty() ? nullptr : target_.data();
  const bool first = !haveContext_;
  SECURITY_STATUS status =
      Api().sspi.InitializeSecurityContextW(&credentials_, first ? nullptr : &context_, target, kRequest, 0, 0, input,
                                            0, first ? &context_ : nullptr, &outDesc, &attributes, nullptr);
  if (first && !FAILED(status)) haveContext_ = true;
  if (out[0].pvBuffer) {
    token.assign(static_cast<const char*>(out[0].pvBuffer), out[0].cbBuffer);
    Api().sspi.FreeContextBuffer(out[0].pvBuffer);
  }
  return status;
}

// Keeps what Schannel left untaken at the end of incoming_ (or nothing).
void SchannelSession::KeepUntaken(const SecBuffer& extra) {
  if (extra.BufferType == SECBUFFER_EXTRA && extra.cbBuffer > 0 && extra.cbBuffer <= incoming_.size()) {
    incoming_.erase(0, incoming_.size() - extra.cbBuffer);
  } else {
    incoming_.clear();
  }
}

long SchannelSession::Fill(const SocketHandle& socket, int timeoutSeconds) {
  char chunk[kChunk];
  const long got = calls_.receiveSome(socket, chunk, sizeof chunk, timeoutSeconds);
  if (got > 0) incoming_.append(chunk, static_cast<size_t>(got));
  return got;
}

bool SchannelSession::Handshake(const SocketHandle& socket, Clock::time_point deadline, std::string& reason) {
  std::string token;
  SECURITY_STATUS status = Initialize(nullptr, token);
  bool needInput = true;
  int credentialRounds = 0;
  for (;;) {
    if (!token.empty()) {
      const long sent = calls_.sendAll(socket, token, SecondsLeft(deadline));
      token.clear();
      if (sent < 0) {
        reason = sent == kSocketTimedOut ? kStopped : kBroke;
        return false;
      }
    }
    if (status == SEC_E_OK) return true;
    if (status == SEC_I_INCOMPLETE_CREDENTIALS) {
      if (++credentialRounds > kCredentialRounds) {
        reason = "handshake failed: " + StatusText(SEC_E_NO_CREDENTIALS);
        return false;
      }
      needInput = false;
    } else if (status != SEC_I_CONTINUE_NEEDED && status != SEC_E_INCOMPLETE_MESSAGE) {
      reason = "handshake failed: " + StatusText(status);
      return false;
    }
    if (needInput || incoming_.empty()) {
      if (Clock::now() >= deadline) {
        reason = kStopped;
        return false;
      }
      if (incoming_.size() > kHandshakeLimit) {
        reason = "handshake failed: the server's handshake is too long";
        return false;
      }
      const long got = Fill(socket, SecondsLeft(deadline));
      if (got == 0) reason = "the server ended the connection during the handshake";
      if (got == kSocketTimedOut) reason = kStopped;
      if (got < 0 && got != kSocketTimedOut) reason = kBroke;
      if (got <= 0) return false;
    }
    SecBuffer in[2] = {{static_cast<ULONG>(incoming_.size()), SECBUFFER_TOKEN, incoming_.data()},
                       {0, SECBUFFER_EMPTY, nullptr}};
    SecBufferDesc inDesc{SECBUFFER_VERSION, 2, in};
    status = Initialize(&inDesc, token);
    if (status == SEC_E_INCOMPLETE_MESSAGE) {
      needInput = true;
    } else if (status == SEC_E_OK || status == SEC_I_CONTINUE_NEEDED) {
      KeepUntaken(in[1]);
      needInput = incoming_.empty();
    }
  }
}

bool SchannelSession::Verify(const TlsPeer& peer, const std::vector<std::string>& trusted, std::string& reason) {
  PCCERT_CONTEXT raw = nullptr;
  if (Api().sspi.QueryContextAttributesW(&context_, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &raw) != SEC_E_OK || !raw) {
    reason = "certificate refused: the server sent no certificate";
    return false;
  }
  const CertificatePtr server(raw);
  certificate_ = Described(server.get());
  const std::string refusal = Refusal(server.get(), peer.host, trusted);
  if (!refusal.empty()) {
    reason = "certificate refused: " + refusal;
    return false;
  }
  certificate_.trusted = true;
  return true;
}

// "TLSv1.3 TLS_AES_256_GCM_SHA384" where the system names the suite;
// otherwise the cipher and its key length.
void SchannelSession::Describe() {
  SecPkgContext_ConnectionInfo connection{};
  const bool haveConnection =
      Api().sspi.QueryContextAttributesW(&context_, SECPKG_ATTR_CONNECTION_INFO, &connection) == SEC_E_OK;
  SecPkgContext_CipherInfo cipher{};
  cipher.dwVersion = SECPKGCONTEXT_CIPHERINFO_V1;
  const bool haveCipher = Api().sspi.QueryContextAttributesW(&context_, SECPKG_ATTR_CIPHER_INFO, &cipher) == SEC_E_OK;
  description_ =
      haveConnection ? ProtocolName(connection.dwProtocol) : WireVersionName(haveCipher ? cipher.dwProtocol : 0);
  if (!haveCipher) {
    if (haveConnection) description_ += " cipher of " + std::to_string(connection.dwCipherStrength) + " bits";
    return;
  }
  const std::wstring_view suite = Terminated(cipher.szCipherSuite);
  const std::wstring_view name = Terminated(cipher.szCipher);
  if (IsCleanName(suite)) {
    description_ += " " + Utf8(suite);
  } else if (IsCleanName(name)) {
    description_ += " " + Utf8(name) + "-" + std::to_string(cipher.dwCipherLen);
  }
}

bool SchannelSession::Start(const SocketHandle& socket, const TlsPeer& peer, std::string& reason) {
  Reset();
  certificate_ = TlsCertificate{};
  if (!Api().loaded) {
    reason = "cannot set up TLS: the system's secur32.dll or crypt32.dll cannot be loaded";
    return false;
  }
  if (peer.host.empty()) {
    reason = "no server name to check the certificate against";
    return false;
  }
  std::vector<std::string> trusted;
  if (!peer.caFile.empty() && !ReadCaFile(peer.caFile, trusted)) {
    reason = "cannot read the certificates of cafile " + peer.caFile;
    return false;
  }
  if (!Acquire(reason)) return false;
  target_ = win32::IsAddress(peer.host) ? std::wstring() : win32::Widen(peer.host, CP_UTF8);
  const Clock::time_point deadline =
      peer.timeoutSeconds > 0 ? Clock::now() + std::chrono::seconds(peer.timeoutSeconds) : Clock::time_point::max();
  if (!Handshake(socket, deadline, reason) || !Verify(peer, trusted, reason)) {
    Reset();
    return false;
  }
  if (Api().sspi.QueryContextAttributesW(&context_, SECPKG_ATTR_STREAM_SIZES, &sizes_) != SEC_E_OK ||
      sizes_.cbMaximumMessage == 0) {
    reason = "cannot set up TLS: no record sizes";
    Reset();
    return false;
  }
  Describe();
  established_ = true;
  return true;
}

void SchannelSession::End(const SocketHandle& socket) {
  if (established_) {
    DWORD type = SCHANNEL_SHUTDOWN;
    SecBuffer control{sizeof type, SECBUFFER_TOKEN, &type};
    SecBufferDesc controlDesc{SECBUFFER_VERSION, 1, &control};
    std::string alert;
    if (Api().sspi.ApplyControlToken(&context_, &controlDesc) == SEC_E_OK) Initialize(nullptr, alert);
    if (!alert.empty()) calls_.sendAll(socket, alert, kEndWaitSeconds);
  }
  Reset();
}

// Decrypts the first record of incoming_, keeping its text in plain_.
SchannelSession::Opened SchannelSession::OpenRecord(const SocketHandle& socket, int timeoutSeconds) {
  SecBuffer buffers[4] = {{static_cast<ULONG>(incoming_.size()), SECBUFFER_DATA, incoming_.data()},
                          {0, SECBUFFER_EMPTY, nullptr},
                          {0, SECBUFFER_EMPTY, nullptr},
                          {0, SECBUFFER_EMPTY, nullptr}};
  SecBufferDesc desc{SECBUFFER_VERSION, 4, buffers};
  const SECURITY_STATUS status = Api().sspi.DecryptMessage(&context_, &desc, 0, nullptr);
  if (status == SEC_E_INCOMPLETE_MESSAGE) return Opened::kMore;
  if (status != SEC_E_OK && status != SEC_I_RENEGOTIATE && status != SEC_I_CONTEXT_EXPIRED) return Opened::kFailed;
  // The buffers point into incoming_: the text is copied out before it changes.
  SecBuffer extra{0, SECBUFFER_EMPTY, nullptr};
  for (const SecBuffer& buffer : buffers) {
    if (buffer.BufferType == SECBUFFER_DATA && buffer.cbBuffer > 0) {
      plain_.append(static_cast<const char*>(buffer.pvBuffer), buffer.cbBuffer);
    } else if (buffer.BufferType == SECBUFFER_EXTRA) {
      extra = buffer;
    }
  }
  KeepUntaken(extra);
  if (status == SEC_I_CONTEXT_EXPIRED) {
    peerClosed_ = true;
    return Opened::kClosed;
  }
  if (status == SEC_I_RENEGOTIATE) {
    // A message of the handshake after it (a TLS 1.3 ticket or key update):
    // Schannel takes it, and what follows it, through the handshake call.
    SecBuffer in[2] = {{static_cast<ULONG>(incoming_.size()), SECBUFFER_TOKEN, incoming_.data()},
                       {0, SECBUFFER_EMPTY, nullptr}};
    SecBufferDesc inDesc{SECBUFFER_VERSION, 2, in};
    std::string token;
    const SECURITY_STATUS again = Initialize(&inDesc, token);
    if (!token.empty() && calls_.sendAll(socket, token, timeoutSeconds) < 0) return Opened::kFailed;
    if (again != SEC_E_OK) return Opened::kFailed;
    KeepUntaken(in[1]);
  }
  return Opened::kRecord;
}

long SchannelSession::Receive(const SocketHandle& socket, char* buffer, size_t size, int timeoutSeconds) {
  if (!established_) return kSocketFailed;
  const size_t recordLimit = sizes_.cbHeader + sizes_.cbMaximumMessage + sizes_.cbTrailer;
  for (;;) {
    if (plainAt_ < plain_.size()) {
      const size_t n = std::min({size, plain_.size() - plainAt_, static_cast<size_t>(LONG_MAX)});
      std::memcpy(buffer, plain_.data() + plainAt_, n);
      plainAt_ += n;
      if (plainAt_ == plain_.size()) {
        plain_.clear();
        plainAt_ = 0;
      }
      return static_cast<long>(n);
    }
    if (peerClosed_) return 0;
    Opened opened = incoming_.empty() ? Opened::kMore : OpenRecord(socket, timeoutSeconds);
    if (opened == Opened::kFailed) return kSocketFailed;
    if (opened != Opened::kMore) continue;
    // A record is never longer than this; more without one whole is a fault.
    if (incoming_.size() >= recordLimit) return kSocketFailed;
    // A peer that drops the connection without the closing alert is taken
    // as having closed it: the mail protocols mark their own ends.
    const long got = Fill(socket, timeoutSeconds);
    if (got <= 0) return got;
  }
}

long SchannelSession::Send(const SocketHandle& socket, std::string_view data, int timeoutSeconds) {
  if (!established_) return kSocketFailed;
  const size_t most = sizes_.cbMaximumMessage;
  std::string record(sizes_.cbHeader + most + sizes_.cbTrailer, '\0');
  for (size_t done = 0; done < data.size();) {
    const size_t n = std::min(most, data.size() - done);
    std::memcpy(record.data() + sizes_.cbHeader, data.data() + done, n);
    SecBuffer buffers[4] = {{sizes_.cbHeader, SECBUFFER_STREAM_HEADER, record.data()},
                            {static_cast<ULONG>(n), SECBUFFER_DATA, record.data() + sizes_.cbHeader},
                            {sizes_.cbTrailer, SECBUFFER_STREAM_TRAILER, record.data() + sizes_.cbHeader + n},
                            {0, SECBUFFER_EMPTY, nullptr}};
    SecBufferDesc desc{SECBUFFER_VERSION, 4, buffers};
    if (Api().sspi.EncryptMessage(&context_, 0, &desc, 0) != SEC_E_OK) return kSocketFailed;
    const size_t total = buffers[0].cbBuffer + buffers[1].cbBuffer + buffers[2].cbBuffer;
    const long sent = calls_.sendAll(socket, std::string_view(record.data(), total), timeoutSeconds);
    if (sent < 0) return sent;
    done += n;
  }
  return static_cast<long>(data.size());
}

}  // namespace

}  // namespace quillo

extern "C" quillo::TlsSession* QuilloNewTlsSession(const quillo::TlsSocketCalls* calls) {
  if (!calls) return nullptr;
  try {
    return std::make_unique<quillo::SchannelSession>(*calls).release();
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
