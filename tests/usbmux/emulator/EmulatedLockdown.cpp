#include "EmulatedLockdown.h"

#include "EmulatorState.h"
#include "PlistString.h"
#include "SimServices.h"

#include <openssl/ssl.h>

#include <cstdlib>

namespace {

class Lockdown
{
public:
    Lockdown(int fd, const SimDevice& device, const std::string& udid, EmulatorState& state)
        // The switches that cut or delay replies are for the phone's services, not lockdown.
        : m_socket(fd, SimDevice()), m_device(device), m_udid(udid), m_state(state)
    {
    }
    ~Lockdown() { endTls(); }
    Lockdown(const Lockdown&) = delete;
    Lockdown& operator=(const Lockdown&) = delete;

    void run()
    {
        while (plist_t request = m_socket.readMessage()) {
            const std::string verb = plistDictString(request, "Request");
            plist_t reply = plist_new_dict();
            plist_dict_set_item(reply, "Request", plist_new_string(verb.c_str()));
            const std::string error = answer(verb, request, reply);
            if (!error.empty())
                plist_dict_set_item(reply, "Error", plist_new_string(error.c_str()));
            const bool sent = m_socket.writeMessage(reply);
            plist_free(reply);
            plist_free(request);
            if (!sent || verb == "Goodbye")
                return;
            // A session runs over TLS from the reply that opens it to the reply that ends it;
            // the host then sends its close_notify and goes on in plain text without waiting for
            // one (libimobiledevice's lockdownd_stop_session and idevice_connection_disable_ssl).
            if (error.empty() && verb == "StartSession" && !startTls())
                return;
            if (error.empty() && verb == "StopSession")
                stopTls();
        }
    }

private:
    // Fills the reply; the error text lockdown would send, or empty.
    std::string answer(const std::string& verb, plist_t request, plist_t reply)
    {
        if (verb == "QueryType") {
            plist_dict_set_item(reply, "Type", plist_new_string("com.apple.mobile.lockdown"));
            return {};
        }
        if (verb == "GetValue")
            return getValue(request, reply);
        if (verb == "Pair")
            return pair(request, reply);
        if (verb == "ValidatePair")
            return trusted(plistDictString(plist_dict_get_item(request, "PairRecord"), "HostID"))
                       ? ""
                       : "InvalidHostID";
        if (verb == "StartSession") {
            if (!trusted(plistDictString(request, "HostID")))
                return "InvalidHostID";
            m_session = newIdentifier();
            plist_dict_set_item(reply, "SessionID", plist_new_string(m_session.c_str()));
            plist_dict_set_item(reply, "EnableSessionSSL", plist_new_bool(1));
            return {};
        }
        if (verb == "StopSession") {
            if (m_session.empty() || plistDictString(request, "SessionID") != m_session)
                return "InvalidSessionID";
            m_session.clear();
            return {};
        }
        if (verb == "StartService")
            return startService(request, reply);
        if (verb == "Goodbye")
            return {};
        return "InvalidRequest";
    }

    bool trusted(const std::string& hostId) const
    {
        return m_device.flag("Paired", true) && m_state.trusts(m_udid, hostId);
    }

    std::string getValue(plist_t request, plist_t reply)
    {
        const std::string domain = plistDictString(request, "Domain");
        const std::string key = plistDictString(request, "Key");
        plist_t value = nullptr;
        if (domain.empty() && key == "DevicePublicKey") {
            const std::string& pem = m_state.devicePublicKey();
            value = plist_new_data(pem.data(), pem.size());
        } else {
            value = m_device.copyValue(domain, key);
        }
        if (!value)
            return "MissingValue";
        if (!domain.empty())
            plist_dict_set_item(reply, "Domain", plist_new_string(domain.c_str()));
        if (!key.empty())
            plist_dict_set_item(reply, "Key", plist_new_string(key.c_str()));
        plist_dict_set_item(reply, "Value", value);
        return {};
    }

    std::string pair(plist_t request, plist_t reply)
    {
        const std::string hostId = plistDictString(plist_dict_get_item(request, "PairRecord"), "HostID");
        if (hostId.empty())
            return "InvalidPairRecord";
        if (m_device.flag("PasscodeLocked"))
            return "PasswordProtected";
        if (m_device.flag("UserDenied"))
            return "UserDeniedPairing";
        if (!m_device.flag("TrustTapped", true))
            return "PairingDialogResponsePending";
        m_state.trust(m_udid, hostId);
        m_device.setFlag("Paired", true);
        const std::string bag = newIdentifier();
        plist_dict_set_item(reply, "EscrowBag", plist_new_data(bag.data(), bag.size()));
        return {};
    }

    std::string startService(plist_t request, plist_t reply)
    {
        if (m_session.empty())
            return "SessionInactive";
        const std::string name = plistDictString(request, "Service");
        for (const std::string& refused : m_device.strings("RefusedServices")) {
            if (refused == name)
                return "ServiceProhibited";
        }
        if (!findSimService(name))
            return "InvalidService";
        EmulatorState::Service service{name, false};
        for (const std::string& secure : m_device.strings("SslServices"))
            service.ssl = service.ssl || secure == name;
        plist_dict_set_item(reply, "Service", plist_new_string(name.c_str()));
        plist_dict_set_item(reply, "Port", plist_new_uint(m_state.offerService(m_udid, service)));
        if (service.ssl)
            plist_dict_set_item(reply, "EnableServiceSSL", plist_new_bool(1));
        return {};
    }

    bool startTls()
    {
        m_ssl = SSL_new(m_state.tls(m_device.majorVersion() >= 10));
        if (!m_ssl || SSL_set_fd(m_ssl, m_socket.fd()) != 1 || SSL_accept(m_ssl) != 1) {
            endTls(); // a host that offers too old a TLS version is turned away
            return false;
        }
        m_state.noteTls(m_udid, "lockdown", SSL_get_version(m_ssl));
        SSL* ssl = m_ssl;
        m_socket.setTransport({[ssl](void* p, size_t n) { return long(SSL_read(ssl, p, int(n))); },
                               [ssl](const void* p, size_t n) { return long(SSL_write(ssl, p, int(n))); }});
        return true;
    }

    void stopTls()
    {
        char ignored[256];
        while (m_ssl && SSL_read(m_ssl, ignored, sizeof ignored) > 0) {
        }
        endTls();
    }

    void endTls()
    {
        m_socket.setTransport({});
        if (!m_ssl)
            return;
        SSL_set_quiet_shutdown(m_ssl, 1);
        SSL_shutdown(m_ssl);
        SSL_free(m_ssl);
        m_ssl = nullptr;
    }

    SimSocket m_socket;
    SSL* m_ssl = nullptr;
    SimDevice m_device;
    std::string m_udid;
    EmulatorState& m_state;
    std::string m_session;
};

} // namespace

void serveLockdown(int fd, const SimDevice& device, const std::string& udid, EmulatorState& state)
{
    Lockdown(fd, device, udid, state).run();
}
