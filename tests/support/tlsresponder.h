#pragma once
// An https stand-in for tests of the certificate checks. Certificates are made when the
// test runs (nothing with an expiry date is kept in the tree): a test authority that
// issues server certificates for a name, or a certificate signed by its own key. The
// responder listens on 127.0.0.1, completes the TLS handshake with the identity it was
// given, reads one request per connection, records it and sends one canned reply. A
// client that refuses the certificate ends the handshake: no request is recorded, so a
// test can assert that nothing (no password, no cookie) reached the server.
#include <cstddef>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace testsupport {

// A certificate and its private key, PEM.
struct TestIdentity {
    std::string certPem;
    std::string keyPem;
};

class TestAuthority {
public:
    TestAuthority();
    ~TestAuthority();
    TestAuthority(const TestAuthority&) = delete;
    TestAuthority& operator=(const TestAuthority&) = delete;

    // The authority's own certificate, PEM: the content of a CA file.
    const std::string& CertPem() const;
    // Writes CertPem() to `path` (creating its folders).
    void WriteCaFile(const std::filesystem::path& path) const;
    // A server certificate for `name` (a DNS name, or an IPv4 address text) issued by
    // this authority.
    TestIdentity Issue(const std::string& name) const;
    // A certificate for `name` signed by its own key, trusted by nobody.
    static TestIdentity SelfSigned(const std::string& name);

private:
    struct Keys;
    std::unique_ptr<Keys> keys_;
};

class TlsResponder {
public:
    TlsResponder(const TestIdentity& identity, std::string reply);
    ~TlsResponder();
    TlsResponder(const TlsResponder&) = delete;
    TlsResponder& operator=(const TlsResponder&) = delete;

    int Port() const;
    // "https://127.0.0.1:PORT"
    std::string BaseUrl() const;
    // The raw requests read after a completed handshake, in order.
    std::vector<std::string> Requests() const;
    // Connections accepted so far (with or without a completed handshake).
    std::size_t Connections() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

// The certificate cases both programs' https checks are tried with: a self-signed
// certificate for another name, the test authority's certificate for 127.0.0.1 without
// and with the authority's CA file (written to `caFile`), and one for another name.
// `passes`: the exchange goes on.
struct CertificateCase {
    const char* name;
    TestIdentity identity;
    std::string caFile;
    bool passes;
};
std::vector<CertificateCase> CertificateCases(const TestAuthority& authority, const std::filesystem::path& caFile);

}  // namespace testsupport
