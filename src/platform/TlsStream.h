// TLS over a connected Socket, for https URLs. Every byte still goes through the Socket, so the
// same waits apply and a test Env can interfere with the connection as with plain HTTP.
#pragma once

#include <memory>
#include <string>

#include "platform/HttpStream.h"

namespace velarix {

class Socket;

// Runs the TLS handshake for host over socket (which must outlive the stream): SNI for a name,
// the certificate chain checked against the system's trust store (SSL_CERT_FILE and
// SSL_CERT_DIR honoured) and the certificate checked against the host name or IP address.
// nullptr with *reason set when the handshake or the verification fails.
std::unique_ptr<HttpStream> StartTls(Socket* socket, const std::string& host, int wait_ms,
                                     std::string* reason);

}  // namespace velarix
