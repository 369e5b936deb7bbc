// vizadavu_trust_ca CA_FILE: adds the PEM certificate in CA_FILE to the
// LocalMachine Root store of this Windows (for the tests: wine's prefix, where
// certutil does nothing), replacing an equal one.
#include <windows.h>
//
#include <wincrypt.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: vizadavu_trust_ca CA_FILE\n");
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  const std::string pem((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  DWORD size = 0;
  if (pem.empty() || !CryptStringToBinaryA(pem.c_str(), 0, CRYPT_STRING_BASE64HEADER, nullptr,
                                           &size, nullptr, nullptr)) {
    std::fprintf(stderr, "vizadavu_trust_ca: no PEM certificate in %s\n", argv[1]);
    return 1;
  }
  std::vector<BYTE> der(size);
  CryptStringToBinaryA(pem.c_str(), 0, CRYPT_STRING_BASE64HEADER, der.data(), &size, nullptr,
                       nullptr);
  HCERTSTORE store =
      CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, "Root");
  const bool added = store && CertAddEncodedCertificateToStore(
                                  store, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, der.data(), size,
                                  CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
  const DWORD error = GetLastError();
  if (store) CertCloseStore(store, 0);
  if (!added) {
    std::fprintf(stderr, "vizadavu_trust_ca: not added (%lu)\n", error);
    return 1;
  }
  return 0;
}
