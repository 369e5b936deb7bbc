// A throw-away certificate authority for TLS tests, built with OpenSSL 3.
#include <arpa/inet.h>
#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <system_error>

#include "tests/support/TestPki.h"

namespace vizadavu::test {
namespace {

template <auto Free>
struct OpenSslFree {
  template <typename T>
  void operator()(T* p) const {
    Free(p);
  }
};
using KeyPtr = std::unique_ptr<EVP_PKEY, OpenSslFree<EVP_PKEY_free>>;
using CertPtr = std::unique_ptr<X509, OpenSslFree<X509_free>>;
using BioPtr = std::unique_ptr<BIO, OpenSslFree<BIO_free>>;
using BnPtr = std::unique_ptr<BIGNUM, OpenSslFree<BN_free>>;
using ExtPtr = std::unique_ptr<X509_EXTENSION, OpenSslFree<X509_EXTENSION_free>>;

[[noreturn]] void Fail(const std::string& what) {
  std::string message = "TestPki: " + what;
  if (unsigned long e = ERR_get_error()) {
    char buf[256];
    ERR_error_string_n(e, buf, sizeof buf);
    message += ": ";
    message += buf;
  }
  ERR_clear_error();
  throw std::runtime_error(message);
}

KeyPtr NewKey() {
  KeyPtr key(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256"));
  if (!key) Fail("EC P-256 key generation failed");
  return key;
}

bool IsIpAddress(const std::string& text) {
  unsigned char address[sizeof(in6_addr)];
  return inet_pton(AF_INET, text.c_str(), address) == 1 ||
         inet_pton(AF_INET6, text.c_str(), address) == 1;
}

std::string CertToPem(X509* cert) {
  BioPtr bio(BIO_new(BIO_s_mem()));
  if (!bio || PEM_write_bio_X509(bio.get(), cert) != 1) Fail("PEM encoding failed");
  char* data = nullptr;
  long size = BIO_get_mem_data(bio.get(), &data);
  return std::string(data, static_cast<std::size_t>(size));
}

std::string KeyToPem(EVP_PKEY* key) {
  BioPtr bio(BIO_new(BIO_s_mem()));
  if (!bio ||
      PEM_write_bio_PrivateKey(bio.get(), key, nullptr, nullptr, 0, nullptr, nullptr) != 1) {
    Fail("PEM encoding of a key failed");
  }
  char* data = nullptr;
  long size = BIO_get_mem_data(bio.get(), &data);
  return std::string(data, static_cast<std::size_t>(size));
}

void AddExtension(X509* cert, X509V3_CTX* ctx, int nid, const std::string& value) {
  ExtPtr extension(X509V3_EXT_conf_nid(nullptr, ctx, nid, value.c_str()));
  if (!extension || X509_add_ext(cert, extension.get(), -1) != 1) {
    Fail("cannot add extension " + value);
  }
}

// Builds and signs a v3 certificate. `issuer` null means self-signed (issuerKey is
// then the subject's own key). Leaves carry `name` as CN (when it fits) and in the SAN.
CertPtr MakeCertificate(const std::string& name, EVP_PKEY* subjectKey, X509* issuer,
                        EVP_PKEY* issuerKey, bool ca, std::chrono::seconds notBefore,
                        std::chrono::seconds notAfter) {
  if (notAfter <= notBefore) {
    throw std::invalid_argument("TestPki: notAfter must lie after notBefore");
  }
  CertPtr cert(X509_new());
  if (!cert || X509_set_version(cert.get(), X509_VERSION_3) != 1) Fail("X509_new failed");

  // A random positive 127-bit serial, so that reissued certificates never collide.
  unsigned char serial[16];
  if (RAND_bytes(serial, sizeof serial) != 1) Fail("RAND_bytes failed");
  serial[0] = static_cast<unsigned char>((serial[0] & 0x7f) | 0x40);
  BnPtr bn(BN_bin2bn(serial, sizeof serial, nullptr));
  if (!bn || !BN_to_ASN1_INTEGER(bn.get(), X509_get_serialNumber(cert.get()))) {
    Fail("cannot set the serial number");
  }

  if (!X509_gmtime_adj(X509_getm_notBefore(cert.get()), static_cast<long>(notBefore.count())) ||
      !X509_gmtime_adj(X509_getm_notAfter(cert.get()), static_cast<long>(notAfter.count()))) {
    Fail("cannot set the validity period");
  }

  X509_NAME* subject = X509_get_subject_name(cert.get());
  if (!name.empty() && name.size() <= 64 &&  // the X.509 upper bound for a common name
      X509_NAME_add_entry_by_txt(subject, "CN", MBSTRING_UTF8,
                                 reinterpret_cast<const unsigned char*>(name.c_str()), -1, -1,
                                 0) != 1) {
    Fail("cannot set the common name");
  }
  if (X509_set_issuer_name(cert.get(), issuer ? X509_get_subject_name(issuer) : subject) != 1 ||
      X509_set_pubkey(cert.get(), subjectKey) != 1) {
    Fail("cannot set issuer or public key");
  }

  X509V3_CTX ctx;
  X509V3_set_ctx_nodb(&ctx);
  X509V3_set_ctx(&ctx, issuer ? issuer : cert.get(), cert.get(), nullptr, nullptr, 0);
  AddExtension(cert.get(), &ctx, NID_subject_key_identifier, "hash");
  if (ca) {
    AddExtension(cert.get(), &ctx, NID_basic_constraints, "critical,CA:TRUE");
    AddExtension(cert.get(), &ctx, NID_key_usage, "critical,keyCertSign,cRLSign,digitalSignature");
  } else {
    AddExtension(cert.get(), &ctx, NID_basic_constraints, "critical,CA:FALSE");
    AddExtension(cert.get(), &ctx, NID_key_usage, "critical,digitalSignature");
    AddExtension(cert.get(), &ctx, NID_ext_key_usage, "serverAuth,clientAuth");
    AddExtension(cert.get(), &ctx, NID_subject_alt_name,
                 (IsIpAddress(name) ? "IP:" : "DNS:") + name);
  }
  if (issuer) AddExtension(cert.get(), &ctx, NID_authority_key_identifier, "keyid:always");

  if (X509_sign(cert.get(), issuerKey, EVP_sha256()) == 0) Fail("signing failed");
  return cert;
}

// A CA's name with a random tag: every CA a test makes is told from the others
// by its name too, as real CAs are (the servers' CAs and their intermediates
// all sit in one trust store under wine).
std::string UniqueName(const char* what) {
  unsigned char tag[4];
  if (RAND_bytes(tag, sizeof tag) != 1) Fail("RAND_bytes failed");
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string name = std::string(what) + " ";
  for (const unsigned char b : tag) name += {kHex[b >> 4], kHex[b & 15]};
  return name;
}

}  // namespace

struct TestPki::Impl {
  KeyPtr key;
  CertPtr cert;
  std::string pem;
  std::mutex fileMutex;
  std::string file;
};

TestPki::TestPki() : TestPki(-std::chrono::hours(24), std::chrono::hours(24 * 365)) {}

TestPki::TestPki(std::chrono::seconds notBefore, std::chrono::seconds notAfter)
    : impl_(std::make_unique<Impl>()) {
  impl_->key = NewKey();
  impl_->cert = MakeCertificate(UniqueName("vizADAVU Test CA"), impl_->key.get(), nullptr,
                                impl_->key.get(), true, notBefore, notAfter);
  impl_->pem = CertToPem(impl_->cert.get());
}

TestPki::~TestPki() {
  if (!impl_->file.empty()) ::unlink(impl_->file.c_str());
}

const std::string& TestPki::CaCertificatePem() const {
  return impl_->pem;
}

const std::string& TestPki::CaFile() {
  std::lock_guard lock(impl_->fileMutex);
  if (impl_->file.empty()) {
    std::string path =
        (std::filesystem::temp_directory_path() / "vizadavu-test-ca-XXXXXX").string();
    int fd = ::mkstemp(path.data());
    if (fd < 0) throw std::system_error(errno, std::system_category(), "TestPki: mkstemp");
    std::string_view rest = impl_->pem;
    while (!rest.empty()) {
      ssize_t n = ::write(fd, rest.data(), rest.size());
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        int error = errno;
        ::close(fd);
        ::unlink(path.c_str());
        throw std::system_error(error, std::system_category(), "TestPki: writing " + path);
      }
      rest.remove_prefix(static_cast<std::size_t>(n));
    }
    ::close(fd);
    impl_->file = std::move(path);
  }
  return impl_->file;
}

Pem TestPki::Issue(const std::string& dnsOrIp, std::chrono::seconds notBefore,
                   std::chrono::seconds notAfter) const {
  if (dnsOrIp.empty()) throw std::invalid_argument("TestPki: empty host name");
  KeyPtr key = NewKey();
  CertPtr cert = MakeCertificate(dnsOrIp, key.get(), impl_->cert.get(), impl_->key.get(), false,
                                 notBefore, notAfter);
  return {CertToPem(cert.get()), KeyToPem(key.get())};
}

Pem TestPki::IssueViaIntermediate(const std::string& dnsOrIp, std::chrono::seconds notBefore,
                                  std::chrono::seconds notAfter) const {
  if (dnsOrIp.empty()) throw std::invalid_argument("TestPki: empty host name");
  KeyPtr caKey = NewKey();
  CertPtr ca = MakeCertificate(UniqueName("vizADAVU Test Intermediate"), caKey.get(),
                               impl_->cert.get(), impl_->key.get(), true, notBefore, notAfter);
  KeyPtr key = NewKey();
  CertPtr leaf = MakeCertificate(dnsOrIp, key.get(), ca.get(), caKey.get(), false,
                                 -std::chrono::hours(1), std::chrono::hours(1));
  return {CertToPem(leaf.get()) + CertToPem(ca.get()), KeyToPem(key.get())};
}

Pem TestPki::SelfSigned(const std::string& dnsOrIp) {
  if (dnsOrIp.empty()) throw std::invalid_argument("TestPki: empty host name");
  KeyPtr key = NewKey();
  CertPtr cert = MakeCertificate(dnsOrIp, key.get(), nullptr, key.get(), false,
                                 -std::chrono::hours(24), std::chrono::hours(24 * 30));
  return {CertToPem(cert.get()), KeyToPem(key.get())};
}

}  // namespace vizadavu::test
