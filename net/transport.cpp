#include "net/transport.h"

#include "net/socket_errors.h"

int TPlainTransport::Send(const void* buffer, int count) {
    return TmsWinsock::Instance().Send(FSocket.Get(), buffer, count);
}

int TPlainTransport::Receive(void* buffer, int count) {
    return TmsWinsock::Instance().Recv(FSocket.Get(), buffer, count);
}

int TPlainTransport::Shutdown() {
    return TmsWinsock::Instance().Shutdown(FSocket.Get(), 1);
}

int TPlainTransport::Close() {
    return FSocket.Close() ? 0 : sock::SocketError;
}

void TTransport::RaiseError(int code) const {
    RaiseSocketError(code);
}
