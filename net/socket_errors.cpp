#include "net/socket_errors.h"

void RaiseSocketError(int code) {
    // The resource id is 40000 plus the code's 16 bits, so a code is looked up as such.
    const int key = static_cast<uint16_t>(code);
    if (auto text = SocketErrorText(key)) throw EWinsockError(*text, key);
    throw EWinsockError(sWinsockErrorNo + std::to_string(key), key);
}
