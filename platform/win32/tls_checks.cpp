#include <winsock2.h>
#include <ws2tcpip.h>

#include "platform/win32/tls_checks.h"

#include <cstdio>

namespace quillo::win32 {

namespace {

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

// The address's bytes (4 or 16), or nothing when `host` is no address.
std::string AddressBytes(const std::string& host) {
  unsigned char bytes[16];
  if (::inet_pton(AF_INET, host.c_str(), bytes) == 1) return std::string(reinterpret_cast<char*>(bytes), 4);
  if (::inet_pton(AF_INET6, host.c_str(), bytes) == 1) return std::string(reinterpret_cast<char*>(bytes), 16);
  return {};
}

}  // namespace

bool DnsNameMatches(std::string_view pattern, std::string_view host) {
  if (pattern.empty() || host.empty()) return false;
  if (pattern.substr(0, 2) != "*.") return SameIgnoringCase(pattern, host);
  const std::string_view rest = pattern.substr(2);
  // "*.jp" would stand for a whole top-level domain.
  if (rest.find('.') == std::string_view::npos || rest.find('*') != std::string_view::npos) return false;
  const size_t dot = host.find('.');
  if (dot == 0 || dot == std::string_view::npos) return false;
  return SameIgnoringCase(rest, host.substr(dot + 1));
}

bool IsAddress(const std::string& host) { return !AddressBytes(host).empty(); }

std::string HostRefusal(const std::string& host, const CertificateNames& names) {
  const std::string address = AddressBytes(host);
  if (!address.empty()) {
    for (const std::string& candidate : names.addresses) {
      if (candidate == address) return {};
    }
    return "IP address mismatch";
  }
  const std::vector<std::string>& candidates = names.dnsNames.empty() ? names.commonNames : names.dnsNames;
  for (const std::string& candidate : candidates) {
    if (DnsNameMatches(candidate, host)) return {};
  }
  return "hostname mismatch";
}

std::string ChainRefusal(DWORD errorStatus, size_t chainLength, bool notYetValid, const std::string& hostRefusal) {
  // Unknown revocation is no fault: revocation is not asked about.
  constexpr DWORD kIgnored =
      CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION | CERT_TRUST_IS_NOT_TIME_NESTED;
  const DWORD status = errorStatus & ~kIgnored;
  if (status & (CERT_TRUST_IS_PARTIAL_CHAIN | CERT_TRUST_IS_CYCLIC)) return "unable to get local issuer certificate";
  if (status & CERT_TRUST_IS_UNTRUSTED_ROOT) {
    return chainLength <= 1 ? "self-signed certificate" : "self-signed certificate in certificate chain";
  }
  if (status & CERT_TRUST_INVALID_BASIC_CONSTRAINTS) return "invalid CA certificate";
  if (status & CERT_TRUST_IS_NOT_VALID_FOR_USAGE) return "unsuitable certificate purpose";
  if (!hostRefusal.empty()) return hostRefusal;
  if (status & CERT_TRUST_IS_REVOKED) return "certificate revoked";
  if (status & CERT_TRUST_IS_NOT_SIGNATURE_VALID) return "certificate signature failure";
  if (status & CERT_TRUST_IS_NOT_TIME_VALID)
    return notYetValid ? "certificate is not yet valid" : "certificate has expired";
  if (status != 0) return "certificate rejected";
  return {};
}

std::string Rfc2253Value(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(utf8[i]);
    if (c < 0x20 || c == 0x7f) {
      char hex[4];
      std::snprintf(hex, sizeof hex, "\\%02X", c);
      out += hex;
      continue;
    }
    const bool special = c == ',' || c == '+' || c == '"' || c == '\\' || c == '<' || c == '>' || c == ';';
    const bool atEdge = (i == 0 && (c == '#' || c == ' ')) || (i + 1 == utf8.size() && c == ' ');
    if (special || atEdge) out += '\\';
    out += static_cast<char>(c);
  }
  return out;
}

std::string AttributeName(std::string_view oid) {
  struct Known {
    std::string_view oid;
    std::string_view name;
  };
  static constexpr Known kKnown[] = {
      {"2.5.4.3", "CN"},
      {"2.5.4.6", "C"},
      {"2.5.4.7", "L"},
      {"2.5.4.8", "ST"},
      {"2.5.4.10", "O"},
      {"2.5.4.11", "OU"},
      {"2.5.4.9", "street"},
      {"2.5.4.5", "serialNumber"},
      {"2.5.4.4", "SN"},
      {"2.5.4.42", "GN"},
      {"2.5.4.12", "title"},
      {"1.2.840.113549.1.9.1", "emailAddress"},
      {"0.9.2342.19200300.100.1.25", "DC"},
      {"0.9.2342.19200300.100.1.1", "UID"},
  };
  for (const Known& known : kKnown) {
    if (known.oid == oid) return std::string(known.name);
  }
  return std::string(oid);
}

std::string CertificateTimeText(const SYSTEMTIME& time) {
  static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  if (time.wMonth < 1 || time.wMonth > 12) return {};
  char text[40];
  std::snprintf(text, sizeof text, "%s %2u %02u:%02u:%02u %u GMT", kMonths[time.wMonth - 1], time.wDay, time.wHour,
                time.wMinute, time.wSecond, time.wYear);
  return text;
}

std::vector<std::string_view> PemCertificateBodies(std::string_view pem) {
  static constexpr std::string_view kBegin = "-----BEGIN CERTIFICATE-----";
  static constexpr std::string_view kEnd = "-----END CERTIFICATE-----";
  std::vector<std::string_view> bodies;
  size_t at = 0;
  for (;;) {
    const size_t begin = pem.find(kBegin, at);
    if (begin == std::string_view::npos) break;
    const size_t start = begin + kBegin.size();
    const size_t end = pem.find(kEnd, start);
    if (end == std::string_view::npos) break;
    bodies.push_back(pem.substr(start, end - start));
    at = end + kEnd.size();
  }
  return bodies;
}

}  // namespace quillo::win32
