#include "net/socket_api.h"

#include "net/socket_errors.h"

// The platform-independent half of the binding; the calls themselves are in the platform's
// file (socket_api_posix.cpp).

void TmsWinsock::CheckLoaded() const {
    if (!FLoaded) throw EWinsockError(sWinsockNotLoaded);
}

std::string TmsWinsock::ResolveHost(const std::string& name) {
    if (InetAddr(name) != sock::NoAddress) return name;
    uint32_t address = 0;
    if (!GetHostByName(name, address)) RaiseSocketError(GetLastError());
    return InetNtoa(address);
}

bool TSocketTraits::Close(TSocket socket) noexcept {
    try {
        return TmsWinsock::Instance().CloseSocket(socket) == 0;
    } catch (const Exception&) {
        return false; // no library: nothing it handed out is left to close
    }
}

uint32_t TmsWinsock::AddressOf(const std::string& text) {
    uint32_t address = InetAddr(text);
    if (address == sock::NoAddress) {
        // The parse sets no error of its own; an invalid argument says what went wrong
        // better than whatever an earlier call left.
        int code = GetLastError();
        RaiseSocketError(code != 0 ? code : sockerr::InvalidArgument);
    }
    return address;
}
