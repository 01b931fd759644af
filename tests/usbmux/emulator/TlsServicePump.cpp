#include "TlsServicePump.h"

#include "SocketIo.h"

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <thread>

void serveOverTls(int fd, SSL_CTX* context, const std::function<void(int plainFd)>& serve,
                  const std::function<void(const char* version)>& accepted)
{
    SSL* ssl = SSL_new(context);
    int ends[2];
    if (!ssl || SSL_set_fd(ssl, fd) != 1 || SSL_accept(ssl) != 1 ||
        socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
        std::fprintf(stderr, "emulated phone: TLS for a service failed\n");
        ERR_print_errors_fp(stderr);
        SSL_free(ssl);
        close(fd);
        return;
    }
    if (accepted)
        accepted(SSL_get_version(ssl));
    std::thread service(serve, ends[1]);
    char buffer[65536];
    bool open = true;
    // TLS 1.3 lets the phone send a session ticket at any time after the handshake (RFC 8446,
    // 4.6.1): one follows its first reply, while the host has its next request to send.
    bool lateTicket = SSL_version(ssl) == TLS1_3_VERSION;
    while (open) {
        // Data already decrypted inside the TLS object never shows on the socket.
        bool fromHost = SSL_pending(ssl) > 0;
        if (!fromHost) {
            pollfd p[2] = {{fd, POLLIN, 0}, {ends[0], POLLIN, 0}};
            if (poll(p, 2, -1) <= 0)
                break;
            if (p[1].revents) {
                const ssize_t n = recv(ends[0], buffer, sizeof buffer, 0);
                open = n > 0 && SSL_write(ssl, buffer, int(n)) == int(n);
                if (open && lateTicket) {
                    lateTicket = false;
                    open = SSL_new_session_ticket(ssl) == 1 && SSL_do_handshake(ssl) == 1;
                }
            }
            fromHost = p[0].revents != 0;
        }
        if (open && fromHost) {
            const int n = SSL_read(ssl, buffer, sizeof buffer);
            open = n > 0 && sendAll(ends[0], buffer, size_t(n));
        }
    }
    shutdown(ends[0], SHUT_RDWR); // the service sees the host gone
    service.join();
    close(ends[0]);
    SSL_shutdown(ssl);
    SSL_free(ssl);
    close(fd);
}
