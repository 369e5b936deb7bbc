// vizadavu_trust_ca CA_FILE: adds every PEM certificate in CA_FILE to the
// LocalMachine Root store of this Windows (for the tests: wine's prefix, where
// certutil does nothing), replacing equal ones.
#include <windows.h>
//
#include <wincrypt.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

bool Add(HCERTSTORE store, const std::string& pem) {
  DWORD size = 0;
  if (!CryptStringToBinaryA(pem.c_str(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER,
                            nullptr, &size, nullptr, nullptr))
    return false;
  std::vector<BYTE> der(size);
  return CryptStringToBinaryA(pem.c_str(), static_cast<DWORD>(pem.size()),
                              CRYPT_STRING_BASE64HEADER, der.data(), &size, nullptr, nullptr) &&
         CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING,
                                          der.data(), size, CERT_STORE_ADD_REPLACE_EXISTING,
                                          nullptr);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: vizadavu_trust_ca CA_FILE\n");
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  const std::string pem((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  HCERTSTORE store =
      CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, "Root");
  if (!store) {
    std::fprintf(stderr, "vizadavu_trust_ca: no Root store (%lu)\n", GetLastError());
    return 1;
  }
  const std::string begin = "-----BEGIN CERTIFICATE-----", end = "-----END CERTIFICATE-----";
  int added = 0;
  for (std::size_t at = pem.find(begin); at != std::string::npos; at = pem.find(begin, at + 1)) {
    const std::size_t stop = pem.find(end, at);
    if (stop == std::string::npos) break;
    if (!Add(store, pem.substr(at, stop + end.size() - at))) {
      std::fprintf(stderr, "vizadavu_trust_ca: certificate %d not added (%lu)\n", added + 1,
                   GetLastError());
      CertCloseStore(store, 0);
      return 1;
    }
    ++added;
  }
  CertCloseStore(store, 0);
  if (added == 0) {
    std::fprintf(stderr, "vizadavu_trust_ca: no PEM certificate in %s\n", argv[1]);
    return 1;
  }
  return 0;
}
