#pragma once
// Certificates for TLS tests, made in process with OpenSSL the first time a test asks (once per
// test program) as PEM files in a temporary folder that is removed at exit. Every server
// certificate is for localhost and 127.0.0.1 unless its name says otherwise.
//
//     const TestCertificates& certs = Certificates();
//     server.UseCertificate(certs.server.cert, certs.server.key).ImplicitTLS();
//     client.CAFile = certs.caCert;
#include <string>

namespace tarnwick::test {

struct CertificateFiles {
    std::string cert;
    std::string key;
};

struct TestCertificates {
    std::string caCert;           // the authority that signed server, wrongName and expired
    CertificateFiles server;      // valid
    CertificateFiles wrongName;   // for DNS:wrong.example only
    CertificateFiles expired;     // valid until yesterday
    CertificateFiles selfSigned;  // its own issuer
    CertificateFiles wildcards;   // for DNS:f*.example.test and DNS:*.wild.example.test only
};

const TestCertificates& Certificates();

}  // namespace tarnwick::test
