// Placeholder until the CNG side lands: no hash, no signature verifies.
#include "platform/signature.h"

#include "platform/exception.h"

namespace plat {

struct TSha256::TState {};

TSha256::TSha256() {
    throw Exception("SHA-256 could not be worked out");
}
TSha256::~TSha256() = default;
void TSha256::Update(const void*, size_t) {}
TSha256Digest TSha256::Final() {
    return {};
}

bool VerifyP256(std::string_view, std::string_view, std::string_view) {
    return false;
}

} // namespace plat
