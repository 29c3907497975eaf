// TLS on Windows belongs to the system's own library (Schannel through secur32.dll), which this
// build does not use yet: a trust can be made as on POSIX (a named CA file must be there), but
// every session fails its handshake with a reason the log names. https:// sites fail closed;
// nothing ever goes out unencrypted in their place.
#include "platform/tls.h"

#include "platform/exception.h"
#include "platform/files.h"

namespace plat {

struct TTlsTrust::TState {};

TTlsTrust::TTlsTrust(const std::string& caFile)
    : FState(std::make_unique<TState>()), FCAFile(caFile) {
    std::string text;
    if (!caFile.empty() && (!ReadFileText(caFile, text) || text.empty()))
        throw Exception("Cannot read the site CA file " + caFile + ": " +
                        SystemErrorText(GetLastError()));
}

TTlsTrust::~TTlsTrust() = default;

struct TTlsSession::TState {};

TTlsSession::TTlsSession(const TTlsTrust&, const std::string&, TTlsPipe&)
    : FState(std::make_unique<TState>()),
      FFailure("TLS is not available in this build of the program") {}

TTlsSession::~TTlsSession() = default;

TTlsStatus TTlsSession::Handshake() {
    return TTlsStatus::Failed;
}

int TTlsSession::Read(void*, int, TTlsStatus& status) {
    status = TTlsStatus::Failed;
    return 0;
}

int TTlsSession::Write(const void*, int, TTlsStatus& status) {
    status = TTlsStatus::Failed;
    return 0;
}

void TTlsSession::Shutdown() {}

bool TTlsSession::HoldsBytes() const {
    return false;
}

} // namespace plat
