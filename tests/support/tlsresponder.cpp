#include "support/tlsresponder.h"

#include <atomic>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <thread>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include "support/sandbox.h"

namespace testsupport {

namespace {

void Require(bool ok, const char* what) {
    if (!ok) throw std::runtime_error(std::string("test certificate: ") + what);
}

struct PkeyFree {
    void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
};
struct X509Free {
    void operator()(X509* p) const { X509_free(p); }
};
using Pkey = std::unique_ptr<EVP_PKEY, PkeyFree>;
using Cert = std::unique_ptr<X509, X509Free>;

Pkey NewKey() {
    Pkey key(EVP_EC_gen("P-256"));
    Require(key != nullptr, "key");
    return key;
}

void AddExtension(X509* cert, X509* issuer, int nid, const std::string& value) {
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value.c_str());
    Require(ext != nullptr, "extension");
    X509_add_ext(cert, ext, -1);
    X509_EXTENSION_free(ext);
}

// A certificate for `name` with `key`, signed by `issuerKey` under `issuer` (itself when null).
Cert MakeCert(EVP_PKEY* key, const std::string& name, bool authority, X509* issuer, EVP_PKEY* issuerKey) {
    Cert cert(X509_new());
    Require(cert != nullptr, "new");
    X509_set_version(cert.get(), 2);
    unsigned char serial[8];
    RAND_bytes(serial, sizeof serial);
    serial[0] &= 0x7F;
    BIGNUM* bn = BN_bin2bn(serial, sizeof serial, nullptr);
    BN_to_ASN1_INTEGER(bn, X509_get_serialNumber(cert.get()));
    BN_free(bn);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), 24 * 3600);
    X509_set_pubkey(cert.get(), key);
    X509_NAME* subject = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(subject, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(name.c_str()), -1,
                               -1, 0);
    X509* signer = issuer != nullptr ? issuer : cert.get();
    X509_set_issuer_name(cert.get(), X509_get_subject_name(signer));
    AddExtension(cert.get(), signer, NID_subject_key_identifier, "hash");
    if (authority) {
        AddExtension(cert.get(), signer, NID_basic_constraints, "critical,CA:TRUE");
        AddExtension(cert.get(), signer, NID_key_usage, "critical,keyCertSign,cRLSign");
    } else {
        in_addr ip{};
        const bool isIp = inet_pton(AF_INET, name.c_str(), &ip) == 1;
        AddExtension(cert.get(), signer, NID_basic_constraints, "critical,CA:FALSE");
        AddExtension(cert.get(), signer, NID_subject_alt_name, (isIp ? "IP:" : "DNS:") + name);
        AddExtension(cert.get(), signer, NID_ext_key_usage, "serverAuth");
        if (issuer != nullptr) AddExtension(cert.get(), signer, NID_authority_key_identifier, "keyid:always");
    }
    Require(X509_sign(cert.get(), issuerKey != nullptr ? issuerKey : key, EVP_sha256()) > 0, "sign");
    return cert;
}

std::string PemOf(X509* cert) {
    BIO* bio = BIO_new(BIO_s_mem());
    PEM_write_bio_X509(bio, cert);
    char* data = nullptr;
    const long n = BIO_get_mem_data(bio, &data);
    std::string pem(data, static_cast<std::size_t>(n));
    BIO_free(bio);
    return pem;
}

std::string KeyPem(EVP_PKEY* key) {
    BIO* bio = BIO_new(BIO_s_mem());
    PEM_write_bio_PrivateKey(bio, key, nullptr, nullptr, 0, nullptr, nullptr);
    char* data = nullptr;
    const long n = BIO_get_mem_data(bio, &data);
    std::string pem(data, static_cast<std::size_t>(n));
    BIO_free(bio);
    return pem;
}

}  // namespace

struct TestAuthority::Keys {
    Pkey key;
    Cert cert;
    std::string pem;
};

TestAuthority::TestAuthority() : keys_(std::make_unique<Keys>()) {
    keys_->key = NewKey();
    keys_->cert = MakeCert(keys_->key.get(), "Test Authority", true, nullptr, nullptr);
    keys_->pem = PemOf(keys_->cert.get());
}

TestAuthority::~TestAuthority() = default;

const std::string& TestAuthority::CertPem() const { return keys_->pem; }

void TestAuthority::WriteCaFile(const std::filesystem::path& path) const { WriteFile(path, keys_->pem); }

TestIdentity TestAuthority::Issue(const std::string& name) const {
    Pkey key = NewKey();
    Cert cert = MakeCert(key.get(), name, false, keys_->cert.get(), keys_->key.get());
    return TestIdentity{PemOf(cert.get()), KeyPem(key.get())};
}

TestIdentity TestAuthority::SelfSigned(const std::string& name) {
    Pkey key = NewKey();
    Cert cert = MakeCert(key.get(), name, false, nullptr, nullptr);
    return TestIdentity{PemOf(cert.get()), KeyPem(key.get())};
}

// ---- the responder ----------------------------------------------------------------------------

struct TlsResponder::State {
    SSL_CTX* ctx = nullptr;
    std::string reply;
    int listener = -1;
    int wake[2] = {-1, -1};
    int port = 0;
    mutable std::mutex mutex;
    std::vector<std::string> requests;
    std::size_t connections = 0;
    std::thread thread;

    void Serve();
    void Handle(int fd);
};

TlsResponder::TlsResponder(const TestIdentity& identity, std::string reply) : state_(std::make_unique<State>()) {
    State& s = *state_;
    // A client that leaves early must not end the test with SIGPIPE.
    ::signal(SIGPIPE, SIG_IGN);
    s.reply = std::move(reply);
    s.ctx = SSL_CTX_new(TLS_server_method());
    Require(s.ctx != nullptr, "context");
    BIO* certBio = BIO_new_mem_buf(identity.certPem.data(), static_cast<int>(identity.certPem.size()));
    X509* cert = PEM_read_bio_X509(certBio, nullptr, nullptr, nullptr);
    BIO_free(certBio);
    BIO* keyBio = BIO_new_mem_buf(identity.keyPem.data(), static_cast<int>(identity.keyPem.size()));
    EVP_PKEY* key = PEM_read_bio_PrivateKey(keyBio, nullptr, nullptr, nullptr);
    BIO_free(keyBio);
    Require(cert != nullptr && key != nullptr, "identity");
    Require(SSL_CTX_use_certificate(s.ctx, cert) == 1 && SSL_CTX_use_PrivateKey(s.ctx, key) == 1, "use identity");
    X509_free(cert);
    EVP_PKEY_free(key);

    s.listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    Require(::bind(s.listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 && ::listen(s.listener, 8) == 0,
            "listen");
    socklen_t len = sizeof addr;
    ::getsockname(s.listener, reinterpret_cast<sockaddr*>(&addr), &len);
    s.port = ntohs(addr.sin_port);
    Require(::pipe2(s.wake, O_CLOEXEC) == 0, "pipe");
    s.thread = std::thread([&s] { s.Serve(); });
}

TlsResponder::~TlsResponder() {
    State& s = *state_;
    const char stop = 1;
    [[maybe_unused]] const ssize_t n = ::write(s.wake[1], &stop, 1);
    s.thread.join();
    ::close(s.listener);
    ::close(s.wake[0]);
    ::close(s.wake[1]);
    SSL_CTX_free(s.ctx);
}

int TlsResponder::Port() const { return state_->port; }

std::string TlsResponder::BaseUrl() const { return "https://127.0.0.1:" + std::to_string(state_->port); }

std::vector<std::string> TlsResponder::Requests() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->requests;
}

std::size_t TlsResponder::Connections() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->connections;
}

void TlsResponder::State::Serve() {
    while (true) {
        pollfd fds[2] = {{listener, POLLIN, 0}, {wake[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) continue;
        if (fds[1].revents != 0) return;
        const int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        {
            std::lock_guard<std::mutex> lock(mutex);
            ++connections;
        }
        Handle(fd);
        ::close(fd);
    }
}

void TlsResponder::State::Handle(int fd) {
    // A client that goes quiet never holds the responder for long.
    timeval limit{10, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    SSL* ssl = SSL_new(ctx);
    SSL_set_fd(ssl, fd);
    if (SSL_accept(ssl) == 1) {
        std::string raw;
        char buffer[4096];
        while (raw.find("\r\n\r\n") == std::string::npos) {
            const int n = SSL_read(ssl, buffer, sizeof buffer);
            if (n <= 0) break;
            raw.append(buffer, static_cast<std::size_t>(n));
        }
        if (!raw.empty()) {
            {
                std::lock_guard<std::mutex> lock(mutex);
                requests.push_back(raw);
            }
            SSL_write(ssl, reply.data(), static_cast<int>(reply.size()));
            SSL_shutdown(ssl);
        }
    }
    ERR_clear_error();
    SSL_free(ssl);
}

std::vector<CertificateCase> CertificateCases(const TestAuthority& authority, const std::filesystem::path& caFile) {
    authority.WriteCaFile(caFile);
    return {
        {"self-signed for another name", TestAuthority::SelfSigned("other.example"), "", false},
        {"own authority without its CA file", authority.Issue("127.0.0.1"), "", false},
        {"own authority, its CA file", authority.Issue("127.0.0.1"), caFile.string(), true},
        {"own authority, wrong host name", authority.Issue("other.example"), caFile.string(), false},
    };
}

}  // namespace testsupport
