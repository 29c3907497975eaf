// The HTTP client's reading of a response: the head's lines and limits, the status code,
// then the body by Content-Length, until the close, or chunked. The bytes come from memory
// instead of a socket and arrive in pieces whose size the first input byte picks (1 to 256),
// as a server's segments would, so lines and chunk sizes are also split across receives.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "net/http_client.h"

namespace {

class TMemoryResponse : public TmsHTTPClient {
public:
    TMemoryResponse(const uint8_t* data, size_t size, size_t piece)
        : FData(data), FSize(size), FPiece(piece) {
        SetBlockingMode(true); // no event loop, no time-outs: the bytes are all there
    }

    int32_t Read() {
        int32_t status = ReadHeaders();
        ReadBody();
        return status;
    }
    size_t Consumed() const { return FAt; }

protected:
    int RecvBytes(void* buffer, int count) override {
        int n = Waiting(count);
        std::memcpy(buffer, FData + FAt, static_cast<size_t>(n));
        FAt += static_cast<size_t>(n);
        return n;
    }

private:
    // What has arrived and not been taken, up to count; 0 once everything is taken (the
    // peer has closed).
    int Waiting(int count) const {
        if (count <= 0) return 0;
        size_t arrived = std::min(FSize, (FAt / FPiece + 1) * FPiece);
        return static_cast<int>(std::min(static_cast<size_t>(count), arrived - FAt));
    }

    const uint8_t* FData;
    size_t FSize, FPiece, FAt = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    TMemoryResponse response(data + 1, size - 1, static_cast<size_t>(data[0]) + 1);
    try {
        response.Read();
        // The body holds only bytes that arrived, and is ready to be read from its start.
        TBodyStream& body = response.ResponseStream();
        if (static_cast<size_t>(body.Size()) > response.Consumed() || body.Position() != 0)
            std::abort();
    } catch (const Exception&) {
        // Refusals (too much data, a bad chunk size, a short body) are answers too.
    }
    return 0;
}
