#include <openssl/evp.h>
#include <openssl/hmac.h>

#include "platform/hmac.h"

namespace velka {

Result<Sha256Digest> HmacSha256(std::string_view key, std::string_view message) {
    Sha256Digest digest{};
    unsigned int length = 0;
    // HMAC() is the one-shot form: no context to leak on an early return. A null
    // key pointer means "no key" to OpenSSL, so an empty key passes a real address.
    static const unsigned char kNoKey = 0;
    const auto* key_bytes =
        key.empty() ? &kNoKey : reinterpret_cast<const unsigned char*>(key.data());
    const auto* done = HMAC(EVP_sha256(), key_bytes, static_cast<int>(key.size()),
                            reinterpret_cast<const unsigned char*>(message.data()), message.size(),
                            digest.data(), &length);
    if (done == nullptr || length != digest.size())
        return Error{"OpenSSL could not compute an HMAC-SHA256."};
    return digest;
}

}  // namespace velka
