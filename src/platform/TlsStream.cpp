#include "platform/TlsStream.h"

#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <climits>

#include "platform/Env.h"

namespace velarix {

namespace {

std::string OpenSslErrorText(const char* what) {
  unsigned long code = ERR_get_error();
  ERR_clear_error();
  if (code == 0) return what;
  char text[256];
  ERR_error_string_n(code, text, sizeof text);
  return std::string(what) + ": " + text;
}

struct SslContextDeleter {
  void operator()(SSL_CTX* context) const { SSL_CTX_free(context); }
};
struct SslDeleter {
  void operator()(SSL* ssl) const { SSL_free(ssl); }
};

// The session talks to memory buffers; this class moves their bytes to and from the socket.
class TlsStream : public HttpStream {
 public:
  TlsStream(Socket* socket, int wait_ms) : socket_(socket), wait_ms_(wait_ms) {}

  bool Handshake(const std::string& host, std::string* reason) {
    context_.reset(SSL_CTX_new(TLS_client_method()));
    if (context_ == nullptr) return Failed("Cannot create a TLS context", reason);
    SSL_CTX_set_min_proto_version(context_.get(), TLS1_2_VERSION);
    SSL_CTX_set_verify(context_.get(), SSL_VERIFY_PEER, nullptr);
    // Reads SSL_CERT_FILE and SSL_CERT_DIR when they are set.
    if (SSL_CTX_set_default_verify_paths(context_.get()) != 1) {
      return Failed("Cannot load the system's trusted certificates", reason);
    }
    // A server that closes without a TLS close_notify has still ended its answer; the HTTP
    // framing tells a complete answer from a cut one.
    SSL_CTX_set_options(context_.get(), SSL_OP_IGNORE_UNEXPECTED_EOF);

    ssl_.reset(SSL_new(context_.get()));
    BIO* in = BIO_new(BIO_s_mem());
    BIO* out = BIO_new(BIO_s_mem());
    if (ssl_ == nullptr || in == nullptr || out == nullptr) {
      BIO_free(in);
      BIO_free(out);
      return Failed("Cannot create a TLS session", reason);
    }
    SSL_set_bio(ssl_.get(), in, out);  // the session owns both now
    in_ = in;
    out_ = out;

    unsigned char address[16];
    bool is_address = inet_pton(AF_INET, host.c_str(), address) == 1 ||
                      inet_pton(AF_INET6, host.c_str(), address) == 1;
    X509_VERIFY_PARAM* param = SSL_get0_param(ssl_.get());
    if (is_address) {
      if (X509_VERIFY_PARAM_set1_ip_asc(param, host.c_str()) != 1) {
        return Failed("Cannot set the address to verify", reason);
      }
    } else {
      X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
      if (SSL_set1_host(ssl_.get(), host.c_str()) != 1 ||
          SSL_set_tlsext_host_name(ssl_.get(), host.c_str()) != 1) {
        return Failed("Cannot set the host name to verify", reason);
      }
    }
    SSL_set_connect_state(ssl_.get());

    for (;;) {
      int rc = SSL_do_handshake(ssl_.get());
      if (!Flush(reason)) return false;
      if (rc == 1) return true;
      int error = SSL_get_error(ssl_.get(), rc);
      if (error != SSL_ERROR_WANT_READ) {
        long verify = SSL_get_verify_result(ssl_.get());
        if (verify != X509_V_OK) {
          ERR_clear_error();
          *reason = std::string("The server's certificate was refused: ") +
                    X509_verify_cert_error_string(verify);
          return false;
        }
        return Failed("The TLS handshake failed", reason);
      }
      bool eof = false;
      if (!Fill(&eof, reason)) return false;
      if (eof) {
        *reason = "The server closed the connection during the TLS handshake";
        return false;
      }
    }
  }

  bool Write(std::string_view data, std::string* reason) override {
    while (!data.empty()) {
      int chunk = static_cast<int>(std::min<size_t>(data.size(), INT_MAX));
      int written = SSL_write(ssl_.get(), data.data(), chunk);
      if (written <= 0) return Failed("TLS write failed", reason);
      data.remove_prefix(static_cast<size_t>(written));
      if (!Flush(reason)) return false;
    }
    return true;
  }

  int64_t Read(char* buffer, size_t n, std::string* reason) override {
    if (peer_closed_) return 0;
    for (;;) {
      int got = SSL_read(ssl_.get(), buffer, static_cast<int>(std::min<size_t>(n, INT_MAX)));
      if (got > 0) return got;
      int error = SSL_get_error(ssl_.get(), got);
      if (error == SSL_ERROR_ZERO_RETURN) {
        peer_closed_ = true;
        return 0;
      }
      if (error != SSL_ERROR_WANT_READ) {
        Failed("TLS read failed", reason);
        return -1;
      }
      // Key updates and session tickets may need an answer before more data comes.
      if (!Flush(reason)) return -1;
      bool eof = false;
      if (!Fill(&eof, reason)) return -1;
      if (eof) {
        peer_closed_ = true;
        return 0;
      }
    }
  }

 private:
  static bool Failed(const char* what, std::string* reason) {
    *reason = OpenSslErrorText(what);
    return false;
  }

  // Sends whatever the session has produced.
  bool Flush(std::string* reason) {
    char block[16384];
    while (BIO_ctrl_pending(out_) > 0) {
      int n = BIO_read(out_, block, sizeof block);
      if (n <= 0) break;
      if (!socket_->SendAll(block, static_cast<size_t>(n), wait_ms_, reason)) return false;
    }
    return true;
  }

  // Hands the session the next bytes from the socket.
  bool Fill(bool* eof, std::string* reason) {
    char block[16384];
    int64_t got = socket_->Receive(block, sizeof block, wait_ms_, reason);
    if (got < 0) return false;
    if (got == 0) {
      *eof = true;
      return true;
    }
    BIO_write(in_, block, static_cast<int>(got));
    return true;
  }

  Socket* socket_;
  int wait_ms_;
  std::unique_ptr<SSL_CTX, SslContextDeleter> context_;
  std::unique_ptr<SSL, SslDeleter> ssl_;
  BIO* in_ = nullptr;   // owned by ssl_
  BIO* out_ = nullptr;  // owned by ssl_
  bool peer_closed_ = false;
};

}  // namespace

std::unique_ptr<HttpStream> StartTls(Socket* socket, const std::string& host, int wait_ms,
                                     std::string* reason) {
  auto stream = std::make_unique<TlsStream>(socket, wait_ms);
  if (!stream->Handshake(host, reason)) return nullptr;
  return stream;
}

}  // namespace velarix
