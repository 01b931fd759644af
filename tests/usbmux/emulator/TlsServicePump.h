#pragma once

#include <openssl/types.h>

#include <functional>

// Serves one of a phone's services over TLS on `fd` (closed at the end): the service speaks plain
// bytes on one end of a socket pair, on its own thread, and this thread carries them to and from
// the TLS connection. `accepted` hears the TLS version once the handshake is done.
void serveOverTls(int fd, SSL_CTX* context, const std::function<void(int plainFd)>& serve,
                  const std::function<void(const char* version)>& accepted = {});
