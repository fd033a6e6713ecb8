#include "support/TestCertificates.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <vector>

namespace tarnwick::test {
namespace {

using Key = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using Cert = std::unique_ptr<X509, decltype(&X509_free)>;

constexpr long kDay = 24 * 60 * 60;

Key NewKey() {
    // EC keys: made in a moment, where RSA would slow every test program's start.
    Key key(EVP_EC_gen("P-256"), EVP_PKEY_free);
    if (!key) throw std::runtime_error("EC key generation failed");
    return key;
}

void AddExtension(X509* cert, X509* issuer, int nid, const char* value) {
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
    if (ext == nullptr) throw std::runtime_error("bad certificate extension");
    X509_add_ext(cert, ext, -1);
    X509_EXTENSION_free(ext);
}

// A certificate for key, signed by issuerKey as issuer (itself when issuer is null), valid from
// fromDays to toDays from now. san empty: an authority.
Cert MakeCert(EVP_PKEY* key, const char* commonName, const char* san, X509* issuer, EVP_PKEY* issuerKey,
              long fromDays, long toDays) {
    static uint64_t serial = 1;
    Cert cert(X509_new(), X509_free);
    X509_set_version(cert.get(), 2);
    ASN1_INTEGER_set_uint64(X509_get_serialNumber(cert.get()), serial++);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), fromDays * kDay);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), toDays * kDay);
    X509_set_pubkey(cert.get(), key);
    X509_NAME* name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(commonName), -1, -1,
                               0);
    X509* signer = issuer != nullptr ? issuer : cert.get();
    X509_set_issuer_name(cert.get(), X509_get_subject_name(signer));
    if (*san == '\0') {
        AddExtension(cert.get(), signer, NID_basic_constraints, "critical,CA:TRUE");
        AddExtension(cert.get(), signer, NID_key_usage, "critical,keyCertSign,cRLSign");
        AddExtension(cert.get(), signer, NID_subject_key_identifier, "hash");
    } else {
        AddExtension(cert.get(), signer, NID_basic_constraints, "CA:FALSE");
        AddExtension(cert.get(), signer, NID_ext_key_usage, "serverAuth");
        AddExtension(cert.get(), signer, NID_subject_alt_name, san);
    }
    if (X509_sign(cert.get(), issuer != nullptr ? issuerKey : key, EVP_sha256()) == 0)
        throw std::runtime_error("certificate signing failed");
    return cert;
}

void WritePem(const std::string& path, X509* cert, EVP_PKEY* key) {
    FILE* out = std::fopen(path.c_str(), "w");
    if (out == nullptr) throw std::runtime_error("cannot write " + path);
    bool ok = cert != nullptr ? PEM_write_X509(out, cert) == 1
                              : PEM_write_PrivateKey(out, key, nullptr, nullptr, 0, nullptr, nullptr) == 1;
    if (std::fclose(out) != 0 || !ok) throw std::runtime_error("cannot write " + path);
}

std::vector<std::string>& MadeFiles() {
    static std::vector<std::string> files;
    return files;
}
std::string& MadeDir() {
    static std::string dir;
    return dir;
}

TestCertificates Make() {
    char pattern[] = "/tmp/tarnwick-certs-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) throw std::runtime_error("mkdtemp failed");
    MadeDir() = pattern;
    MadeFiles().clear();  // constructed before the handler is registered, so destroyed after it ran
    std::atexit([] {
        for (const std::string& file : MadeFiles()) ::unlink(file.c_str());
        ::rmdir(MadeDir().c_str());
    });
    const std::string dir = pattern;
    auto save = [&](const std::string& name, X509* cert, EVP_PKEY* key) {
        std::string path = dir + "/" + name;
        WritePem(path, cert, key);
        MadeFiles().push_back(path);
        return path;
    };
    const char* names = "DNS:localhost,IP:127.0.0.1";

    TestCertificates made;
    Key caKey = NewKey();
    Cert ca = MakeCert(caKey.get(), "Tarnwick unit test CA", "", nullptr, nullptr, -1, 30);
    made.caCert = save("ca.crt", ca.get(), nullptr);
    auto leaf = [&](const std::string& name, const char* san, bool selfSigned, long fromDays, long toDays) {
        Key key = NewKey();
        Cert cert = MakeCert(key.get(), name.c_str(), san, selfSigned ? nullptr : ca.get(), caKey.get(), fromDays,
                             toDays);
        return CertificateFiles{save(name + ".crt", cert.get(), nullptr), save(name + ".key", nullptr, key.get())};
    };
    made.server = leaf("server", names, false, -1, 30);
    made.wrongName = leaf("wrong", "DNS:wrong.example", false, -1, 30);
    made.expired = leaf("expired", names, false, -30, -1);
    made.selfSigned = leaf("self", names, true, -1, 30);
    made.wildcards = leaf("wildcards", "DNS:f*.example.test,DNS:*.wild.example.test", false, -1, 30);
    return made;
}

}  // namespace

const TestCertificates& Certificates() {
    static const TestCertificates made = Make();
    return made;
}

}  // namespace tarnwick::test
