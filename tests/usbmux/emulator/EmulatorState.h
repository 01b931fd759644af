#pragma once

#include <openssl/types.h>

#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <string>

// What the emulated daemon and the emulated phones remember while the emulator runs: the pair
// records the host saved, the host identifiers each phone trusts, and the service ports that
// lockdown handed out and that wait for their one connection.
class EmulatorState
{
public:
    explicit EmulatorState(std::string folder);
    ~EmulatorState();
    EmulatorState(const EmulatorState&) = delete;
    EmulatorState& operator=(const EmulatorState&) = delete;

    const std::string& buid() const { return m_buid; }
    // The phones' public key, PEM (PKCS#1), made when the emulator starts.
    const std::string& devicePublicKey() const { return m_devicePublicKey; }
    // The TLS side of the phones' lockdown sessions and of the services that ask for SSL: the
    // phones' key and a certificate for it (the host does not check it), with the TLS versions of
    // a phone on iOS 10 or later (`current`) or of an older one.
    SSL_CTX* tls(bool current) const { return current ? m_currentTls : m_tls; }
    // For tests: "<udid>.tls" in the state folder gets a line "<what> <TLS version>" per session,
    // and "open-connections" holds the number of connections to phones open now.
    void noteTls(const std::string& udid, const std::string& what, const std::string& version);
    void noteOpenConnections(size_t count);

    // Pair records are kept as files "<udid>.plist" in the state folder, as usbmuxd keeps them.
    bool readPairRecord(const std::string& udid, std::string& data) const;
    bool savePairRecord(const std::string& udid, const std::string& data);
    bool deletePairRecord(const std::string& udid);

    void trust(const std::string& udid, const std::string& hostId);
    bool trusts(const std::string& udid, const std::string& hostId) const;

    struct Service
    {
        std::string name;
        bool ssl = false;
    };
    uint16_t offerService(const std::string& udid, const Service& service);
    // The service waiting on the port, taken so that a second connection is refused.
    bool takeService(const std::string& udid, uint16_t port, Service& service);

private:
    std::string recordPath(const std::string& udid) const;

    std::string m_folder;
    std::string m_buid;
    std::string m_devicePublicKey;
    SSL_CTX* m_tls = nullptr;
    SSL_CTX* m_currentTls = nullptr;
    mutable std::mutex m_mutex;
    std::map<std::string, std::set<std::string>> m_trusted;
    std::map<std::pair<std::string, uint16_t>, Service> m_services;
    uint16_t m_nextPort = 49152;
};

// A fresh identifier in the form lockdown uses ("8-4-4-4-12" upper-case hexadecimal).
std::string newIdentifier();
