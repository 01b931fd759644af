#include "EmulatorState.h"

#include <openssl/encoder.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <openssl/rsa.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <cstdio>
#include <fstream>
#include <iterator>

namespace {
std::string publicKeyPem(EVP_PKEY* key)
{
    std::string pem;
    // "type-specific" is the PKCS#1 "RSA PUBLIC KEY" form that lockdown hands out.
    OSSL_ENCODER_CTX* encoder =
        OSSL_ENCODER_CTX_new_for_pkey(key, EVP_PKEY_PUBLIC_KEY, "PEM", "type-specific", nullptr);
    unsigned char* data = nullptr;
    size_t length = 0;
    if (encoder && OSSL_ENCODER_to_data(encoder, &data, &length) == 1)
        pem.assign(reinterpret_cast<const char*>(data), length);
    OPENSSL_free(data);
    OSSL_ENCODER_CTX_free(encoder);
    return pem;
}

// Phones before iOS 10 speak TLS 1.0 (and the host offers them no more); from iOS 10 they refuse
// anything below TLS 1.2, and TLS 1.3 sessions open with session tickets, records that carry no
// data (libimobiledevice's src/idevice.c holds older phones to TLS 1.0 for this reason).
SSL_CTX* serverContext(EVP_PKEY* key, bool current)
{
    X509* certificate = X509_new();
    ASN1_INTEGER_set(X509_get_serialNumber(certificate), 1);
    X509_gmtime_adj(X509_getm_notBefore(certificate), 0);
    X509_gmtime_adj(X509_getm_notAfter(certificate), 24 * 3600);
    X509_set_pubkey(certificate, key);
    X509_NAME* name = X509_get_subject_name(certificate);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("Device"), -1,
                               -1, 0);
    X509_set_issuer_name(certificate, name);
    SSL_CTX* context = nullptr;
    if (X509_sign(certificate, key, EVP_sha256()) > 0) {
        context = SSL_CTX_new(TLS_server_method());
        // Hosts pair with old-style certificates.
        SSL_CTX_set_security_level(context, 0);
        if (current) {
            SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION);
            SSL_CTX_set_num_tickets(context, 2);
        } else {
            SSL_CTX_set_min_proto_version(context, TLS1_VERSION);
            SSL_CTX_set_max_proto_version(context, TLS1_2_VERSION);
        }
        if (SSL_CTX_use_certificate(context, certificate) != 1 || SSL_CTX_use_PrivateKey(context, key) != 1) {
            SSL_CTX_free(context);
            context = nullptr;
        }
    }
    X509_free(certificate);
    return context;
}
} // namespace

std::string newIdentifier()
{
    unsigned char bytes[16];
    RAND_bytes(bytes, sizeof bytes);
    char text[40];
    std::snprintf(text, sizeof text, "%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X",
                  bytes[0], bytes[1], bytes[2], bytes[3], bytes[4], bytes[5], bytes[6], bytes[7], bytes[8],
                  bytes[9], bytes[10], bytes[11], bytes[12], bytes[13], bytes[14], bytes[15]);
    return text;
}

EmulatorState::EmulatorState(std::string folder) : m_folder(std::move(folder)), m_buid(newIdentifier())
{
    if (EVP_PKEY* key = EVP_RSA_gen(2048)) {
        m_devicePublicKey = publicKeyPem(key);
        m_tls = serverContext(key, false);
        m_currentTls = serverContext(key, true);
        EVP_PKEY_free(key);
    }
}

EmulatorState::~EmulatorState()
{
    SSL_CTX_free(m_tls);
    SSL_CTX_free(m_currentTls);
}

void EmulatorState::noteTls(const std::string& udid, const std::string& what, const std::string& version)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::ofstream out(m_folder + "/" + udid + ".tls", std::ios::app);
    out << what << ' ' << version << '\n';
}

void EmulatorState::noteOpenConnections(size_t count)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const std::string path = m_folder + "/open-connections";
    {
        std::ofstream out(path + ".new", std::ios::trunc);
        out << count << '\n';
    }
    std::rename((path + ".new").c_str(), path.c_str());
}

std::string EmulatorState::recordPath(const std::string& udid) const
{
    return m_folder + "/" + udid + ".plist";
}

bool EmulatorState::readPairRecord(const std::string& udid, std::string& data) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::ifstream in(recordPath(udid), std::ios::binary);
    if (!in)
        return false;
    data.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !data.empty();
}

bool EmulatorState::savePairRecord(const std::string& udid, const std::string& data)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::ofstream out(recordPath(udid), std::ios::binary | std::ios::trunc);
    out.write(data.data(), std::streamsize(data.size()));
    return bool(out);
}

bool EmulatorState::deletePairRecord(const std::string& udid)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return std::remove(recordPath(udid).c_str()) == 0;
}

void EmulatorState::trust(const std::string& udid, const std::string& hostId)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_trusted[udid].insert(hostId);
}

bool EmulatorState::trusts(const std::string& udid, const std::string& hostId) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_trusted.find(udid);
    return !hostId.empty() && it != m_trusted.end() && it->second.count(hostId) > 0;
}

uint16_t EmulatorState::offerService(const std::string& udid, const Service& service)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const uint16_t port = m_nextPort;
    m_nextPort = m_nextPort == 65535 ? 49152 : uint16_t(m_nextPort + 1);
    m_services[{udid, port}] = service;
    return port;
}

bool EmulatorState::takeService(const std::string& udid, uint16_t port, Service& service)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_services.find({udid, port});
    if (it == m_services.end())
        return false;
    service = it->second;
    m_services.erase(it);
    return true;
}
