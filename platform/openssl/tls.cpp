// TLS client sessions on OpenSSL's libssl. The records go through a BIO of our own that calls
// the session's pipe, so libssl never touches the socket and never waits.
#include "platform/tls.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

#include <utility>

#include "platform/errors.h"
#include "platform/exception.h"
#include "platform/openssl/openssl_handles.h"

namespace plat {

namespace {

using TSslContext = std::unique_ptr<SSL_CTX, ossl::TFree<SSL_CTX, SSL_CTX_free>>;
using TSsl = std::unique_ptr<SSL, ossl::TFree<SSL, SSL_free>>;
using TBioMethod = std::unique_ptr<BIO_METHOD, ossl::TFree<BIO_METHOD, BIO_meth_free>>;

// One read from the pipe takes several records at once: a large body costs a quarter of the
// receives that a record at a time would.
constexpr size_t ReadAheadBytes = 64 * 1024;

// The text of the first error on the thread's OpenSSL queue (a system call's in the system's
// words); the queue is emptied.
std::string QueuedReason() {
    const unsigned long error = ERR_peek_error();
    ERR_clear_error();
    if (ERR_SYSTEM_ERROR(error)) return SystemErrorText(ErrorFromOs(ERR_GET_REASON(error)));
    const char* reason = error ? ERR_reason_error_string(error) : nullptr;
    return reason ? reason : "unknown error";
}

// What a failed certificate check means to the reader of the log.
std::string CertificateFailure(long verify) {
    switch (verify) {
    case X509_V_ERR_CERT_HAS_EXPIRED:
        return "certificate expired";
    case X509_V_ERR_CERT_NOT_YET_VALID:
        return "certificate not yet valid";
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
        return "certificate name mismatch";
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
    case X509_V_ERR_CERT_UNTRUSTED:
    case X509_V_ERR_CERT_REJECTED:
        return std::string("certificate untrusted (") + X509_verify_cert_error_string(verify) + ")";
    default:
        return std::string("certificate refused (") + X509_verify_cert_error_string(verify) + ")";
    }
}

// What the BIO of a session reaches: its pipe, and whether the pipe failed last.
struct TPipeLink {
    TTlsPipe* Pipe = nullptr;
    bool Failed = false;
};

bool ProtocolTooOld(int reason) {
    return reason == SSL_R_UNSUPPORTED_PROTOCOL || reason == SSL_R_TLSV1_ALERT_PROTOCOL_VERSION ||
           reason == SSL_R_NO_PROTOCOLS_AVAILABLE || reason == SSL_R_VERSION_TOO_LOW;
}

} // namespace

struct TTlsTrust::TState {
    TSslContext Context;
};

TTlsTrust::TTlsTrust(const std::string& caFile)
    : FState(std::make_unique<TState>()), FCAFile(caFile) {
    ERR_clear_error();
    FState->Context.reset(SSL_CTX_new(TLS_client_method()));
    SSL_CTX* context = FState->Context.get();
    if (!context || SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION) != 1)
        throw Exception("TLS could not be set up: " + QueuedReason());
    SSL_CTX_set_verify(context, SSL_VERIFY_PEER, nullptr);
    // A machine without a system store trusts nothing from it: the check still fails closed.
    SSL_CTX_set_default_verify_paths(context);
    SSL_CTX_set_mode(context, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    SSL_CTX_set_read_ahead(context, 1);
    SSL_CTX_set_default_read_buffer_len(context, ReadAheadBytes);
    if (!caFile.empty() && SSL_CTX_load_verify_locations(context, caFile.c_str(), nullptr) != 1)
        throw Exception("Cannot read the site CA file " + caFile + ": " + QueuedReason());
    ERR_clear_error();
}

TTlsTrust::~TTlsTrust() = default;

struct TTlsSession::TState {
    TPipeLink Link;
    TSsl Ssl;
    bool Starved = false; // the bytes held can't be read until the pipe moves more
    // A failure met after bytes were handed out: the next read reports it, with its text
    // and the last error it left.
    TTlsStatus Pending = TTlsStatus::Done;
    std::string PendingFailure;
    int PendingError = 0;

    // What the failed call ret of libssl came to.
    TTlsStatus Judge(int ret, bool handshake, std::string& failure);
};

namespace {

TPipeLink* LinkOf(BIO* bio) {
    return static_cast<TPipeLink*>(BIO_get_data(bio));
}

int PipeWrite(BIO* bio, const char* buffer, int count) {
    BIO_clear_retry_flags(bio);
    TPipeLink* link = LinkOf(bio);
    const int n = link->Pipe->Send(buffer, count);
    if (n > 0) return n;
    if (n == TTlsPipe::WouldBlock)
        BIO_set_retry_write(bio);
    else
        link->Failed = true;
    return -1;
}

int PipeRead(BIO* bio, char* buffer, int count) {
    BIO_clear_retry_flags(bio);
    TPipeLink* link = LinkOf(bio);
    const int n = link->Pipe->Receive(buffer, count);
    if (n >= 0) return n; // 0: the peer has closed
    if (n == TTlsPipe::WouldBlock)
        BIO_set_retry_read(bio);
    else
        link->Failed = true;
    return -1;
}

long PipeControl(BIO*, int command, long, void*) {
    // Writes go straight to the pipe: nothing waits to be flushed.
    return command == BIO_CTRL_FLUSH ? 1 : 0;
}

int PipeCreate(BIO* bio) {
    BIO_set_init(bio, 1);
    return 1;
}

BIO_METHOD* PipeMethod() {
    static const TBioMethod method = [] {
        TBioMethod m(BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "kvupdater pipe"));
        if (m) {
            BIO_meth_set_write(m.get(), PipeWrite);
            BIO_meth_set_read(m.get(), PipeRead);
            BIO_meth_set_ctrl(m.get(), PipeControl);
            BIO_meth_set_create(m.get(), PipeCreate);
        }
        return m;
    }();
    return method.get();
}

} // namespace

TTlsStatus TTlsSession::TState::Judge(int ret, bool handshake, std::string& failure) {
    const int error = SSL_get_error(Ssl.get(), ret);
    // Whatever is held can't be read before the pipe has moved more, or ever.
    Starved = true;
    switch (error) {
    case SSL_ERROR_WANT_READ:
        return TTlsStatus::WantRead;
    case SSL_ERROR_WANT_WRITE:
        return TTlsStatus::WantWrite;
    case SSL_ERROR_ZERO_RETURN:
        return TTlsStatus::Closed;
    default:
        break;
    }
    if (std::exchange(Link.Failed, false)) {
        ERR_clear_error();
        failure.clear();
        return TTlsStatus::Failed;
    }
    const unsigned long queued = ERR_peek_error();
    const int reason = ERR_GET_LIB(queued) == ERR_LIB_SSL ? ERR_GET_REASON(queued) : 0;
    const bool eof =
        (error == SSL_ERROR_SYSCALL && queued == 0) || reason == SSL_R_UNEXPECTED_EOF_WHILE_READING;
    if (eof && !handshake) {
        ERR_clear_error();
        return TTlsStatus::Cut;
    }
    const long verify = SSL_get_verify_result(Ssl.get());
    if (eof)
        failure = "the server closed the connection";
    else if (handshake && verify != X509_V_OK)
        failure = CertificateFailure(verify);
    else if (ProtocolTooOld(reason))
        failure = "protocol too old (TLS 1.2 or newer is needed)";
    else
        failure = QueuedReason();
    ERR_clear_error();
    return TTlsStatus::Failed;
}

TTlsSession::TTlsSession(const TTlsTrust& trust, const std::string& host, TTlsPipe& pipe)
    : FState(std::make_unique<TState>()) {
    ERR_clear_error();
    FState->Link.Pipe = &pipe;
    FState->Ssl.reset(SSL_new(trust.FState->Context.get()));
    SSL* ssl = FState->Ssl.get();
    BIO* bio = PipeMethod() ? BIO_new(PipeMethod()) : nullptr;
    if (!ssl || !bio) {
        BIO_free(bio);
        throw Exception("TLS could not be set up: " + QueuedReason());
    }
    BIO_set_data(bio, &FState->Link);
    SSL_set_bio(ssl, bio, bio);
    SSL_set_connect_state(ssl);
    // With no name to check the certificate against, nothing may pass: an empty name would
    // switch the check off.
    X509_VERIFY_PARAM* param = SSL_get0_param(ssl);
    X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
    if (host.empty()) {
        FFailure = "no host name to check the certificate against";
    } else if (X509_VERIFY_PARAM_set1_ip_asc(param, host.c_str()) != 1) {
        // A name, not an address: the server is told it, and the certificate must carry it.
        if (SSL_set_tlsext_host_name(ssl, host.c_str()) != 1 ||
            SSL_set1_host(ssl, host.c_str()) != 1)
            FFailure = "the host name can't be checked: " + QueuedReason();
    }
    ERR_clear_error();
}

TTlsSession::~TTlsSession() = default;

TTlsStatus TTlsSession::Handshake() {
    if (!FFailure.empty()) return TTlsStatus::Failed;
    ERR_clear_error();
    const int r = SSL_do_handshake(FState->Ssl.get());
    if (r == 1) {
        FState->Starved = false;
        return TTlsStatus::Done;
    }
    return FState->Judge(r, true, FFailure);
}

int TTlsSession::Read(void* buffer, int count, TTlsStatus& status) {
    if (FState->Pending != TTlsStatus::Done) {
        status = std::exchange(FState->Pending, TTlsStatus::Done);
        FFailure = FState->PendingFailure;
        plat::SetLastError(FState->PendingError);
        return 0;
    }
    SSL* ssl = FState->Ssl.get();
    char* target = static_cast<char*>(buffer);
    size_t total = 0;
    status = TTlsStatus::Done;
    ERR_clear_error();
    // The records already taken from the pipe are handed out together, up to count.
    do {
        size_t got = 0;
        const int r = SSL_read_ex(ssl, target + total, static_cast<size_t>(count) - total, &got);
        if (r == 1) {
            total += got;
            FState->Starved = false;
            continue;
        }
        std::string failure;
        const TTlsStatus judged = FState->Judge(r, false, failure);
        if (total == 0) {
            status = judged;
            FFailure = failure;
        } else if (judged != TTlsStatus::WantRead && judged != TTlsStatus::WantWrite) {
            FState->Pending = judged;
            FState->PendingFailure = failure;
            FState->PendingError = plat::GetLastError();
        }
        break;
    } while (total < static_cast<size_t>(count) && SSL_has_pending(ssl));
    return static_cast<int>(total);
}

int TTlsSession::Write(const void* buffer, int count, TTlsStatus& status) {
    ERR_clear_error();
    size_t written = 0;
    const int r = SSL_write_ex(FState->Ssl.get(), buffer, static_cast<size_t>(count), &written);
    if (r == 1) {
        status = TTlsStatus::Done;
        return static_cast<int>(written);
    }
    status = FState->Judge(r, false, FFailure);
    return 0;
}

void TTlsSession::Shutdown() {
    SSL* ssl = FState->Ssl.get();
    if (!SSL_is_init_finished(ssl)) return;
    ERR_clear_error();
    SSL_shutdown(ssl);
    FState->Link.Failed = false;
    ERR_clear_error();
}

bool TTlsSession::HoldsBytes() const {
    SSL* ssl = FState->Ssl.get();
    return FState->Pending != TTlsStatus::Done || SSL_pending(ssl) > 0 ||
           (!FState->Starved && SSL_has_pending(ssl));
}

} // namespace plat
