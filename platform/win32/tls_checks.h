// The parts of checking and describing a server's certificate that need no
// session: which names it is good for, how its names and dates read, and the
// words for a refusal, which are those the other systems' TLS library prints.
// Internal to platform/.
#pragma once

#include <windows.h>
// After windows.h, whose types it uses.
#include <wincrypt.h>

#include <string>
#include <string_view>
#include <vector>

namespace quillo::win32 {

// The names a certificate is issued for, as its subjectAltName and its
// subject give them.
struct CertificateNames {
  std::vector<std::string> dnsNames;     // dNSName entries
  std::vector<std::string> addresses;    // iPAddress entries: 4 or 16 raw bytes
  std::vector<std::string> commonNames;  // CN attributes of the subject
};

// True when `pattern` (a certificate's DNS name) names `host`: letters
// compared without case, and "*" only as a whole first label standing for
// exactly one label of a name with at least two more.
bool DnsNameMatches(std::string_view pattern, std::string_view host);

// Nothing when `host` (a name, or an IPv4 or IPv6 address) is one of
// `names`; otherwise why not. A name is looked for in the DNS names, or in
// the common names when there are none; an address only among the addresses.
std::string HostRefusal(const std::string& host, const CertificateNames& names);

// True when `host` is an IPv4 or IPv6 address rather than a name.
bool IsAddress(const std::string& host);

// What the chain engine found wrong, in the order the other systems check
// it: the issuers, the purpose, the host name (`hostRefusal`), then dates
// and signatures. `errorStatus` holds CERT_TRUST_* bits with an untrusted
// root already cleared when cafile holds it; `notYetValid` tells which side
// of its dates a certificate out of time is on; `chainLength` counts the
// certificates the engine chained. Nothing when all is well.
std::string ChainRefusal(DWORD errorStatus, size_t chainLength, bool notYetValid, const std::string& hostRefusal);

// One attribute value as RFC 2253 writes it (UTF-8 kept, specials and
// control characters escaped).
std::string Rfc2253Value(std::string_view utf8);

// The short name of an attribute type ("CN", "O", "emailAddress"), or its
// dotted number when it has none.
std::string AttributeName(std::string_view oid);

// "Jan  8 03:00:00 2027 GMT".
std::string CertificateTimeText(const SYSTEMTIME& time);

// The base64 bodies of the "CERTIFICATE" blocks of a PEM file, in order.
std::vector<std::string_view> PemCertificateBodies(std::string_view pem);

}  // namespace quillo::win32
