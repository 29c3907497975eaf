// The HTTP client's reading of a response: the head's lines and limits, the status code,
// then the body by Content-Length, until the close, or chunked. The bytes come from memory
// through a transport of their own instead of a socket and arrive in pieces whose size the first
// input byte picks (1 to 256), as a server's segments would, so lines and chunk sizes are also
// split across receives.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "net/http_client.h"

namespace {

// The response's bytes as a transport hands them out: up to a piece at a time, then 0 (the
// peer has closed) once everything is taken.
class TMemoryTransport final : public TTransport {
public:
    TMemoryTransport(const uint8_t* data, size_t size, size_t piece)
        : FData(data), FSize(size), FPiece(piece) {}

    TSocket Socket() const override { return sock::InvalidSocket; }
    THandshakeStep Handshake() override { return THandshakeStep::Done; }
    int Send(const void*, int count) override { return count; }
    int Receive(void* buffer, int count) override {
        int n = Waiting(count);
        std::memcpy(buffer, FData + FAt, static_cast<size_t>(n));
        FAt += static_cast<size_t>(n);
        return n;
    }
    TWaitFor WaitFor(TWaitFor operation) const override { return operation; }
    bool HoldsBytes() const override { return FAt < FSize; }
    int Shutdown() override { return 0; }
    int Close() override { return 0; }

    size_t Consumed() const { return FAt; }

private:
    // What has arrived and not been taken, up to count.
    int Waiting(int count) const {
        if (count <= 0) return 0;
        size_t arrived = std::min(FSize, (FAt / FPiece + 1) * FPiece);
        return static_cast<int>(std::min(static_cast<size_t>(count), arrived - FAt));
    }

    const uint8_t* FData;
    size_t FSize, FPiece, FAt = 0;
};

class TMemoryResponse : public TmsHTTPClient {
public:
    TMemoryResponse(const uint8_t* data, size_t size, size_t piece) {
        SetBlockingMode(true); // no event loop, no time-outs: the bytes are all there
        auto transport = std::make_unique<TMemoryTransport>(data, size, piece);
        FMemory = transport.get();
        UseTransport(std::move(transport));
    }

    int32_t Read() {
        int32_t status = ReadHeaders();
        ReadBody();
        return status;
    }
    size_t Consumed() const { return FMemory->Consumed(); }

private:
    TMemoryTransport* FMemory;
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
