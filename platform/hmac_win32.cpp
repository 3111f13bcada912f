// HMAC-SHA256 on Windows: CNG, the system's own cryptography.
#include <windows.h>
// (after windows.h, which it needs)
#include <bcrypt.h>

#include <memory>

#include "platform/hmac.h"

namespace velka {
namespace {

struct ProviderCloser {
    void operator()(void* provider) const { BCryptCloseAlgorithmProvider(provider, 0); }
};
struct HashDestroyer {
    void operator()(void* hash) const { BCryptDestroyHash(hash); }
};

Error CngError(NTSTATUS status) {
    return Error{"Windows could not compute an HMAC-SHA256.", static_cast<int>(status)};
}

PUCHAR Bytes(std::string_view text) {
    // CNG takes input through non-const pointers but never writes to it.
    return reinterpret_cast<PUCHAR>(const_cast<char*>(text.data()));
}

}  // namespace

// The provider opened with the HMAC flag, a hash object keyed with `key`, the
// message, the digest: the steps every Windows since Vista (and Wine) offers.
Result<Sha256Digest> HmacSha256(std::string_view key, std::string_view message) {
    BCRYPT_ALG_HANDLE opened = nullptr;
    NTSTATUS status = BCryptOpenAlgorithmProvider(&opened, BCRYPT_SHA256_ALGORITHM, nullptr,
                                                  BCRYPT_ALG_HANDLE_HMAC_FLAG);
    if (status < 0) return CngError(status);
    const std::unique_ptr<void, ProviderCloser> provider(opened);

    BCRYPT_HASH_HANDLE created = nullptr;
    status = BCryptCreateHash(provider.get(), &created, nullptr, 0, Bytes(key),
                              static_cast<ULONG>(key.size()), 0);
    if (status < 0) return CngError(status);
    const std::unique_ptr<void, HashDestroyer> hash(created);

    status = BCryptHashData(hash.get(), Bytes(message), static_cast<ULONG>(message.size()), 0);
    if (status < 0) return CngError(status);
    Sha256Digest digest{};
    status = BCryptFinishHash(hash.get(), digest.data(), static_cast<ULONG>(digest.size()), 0);
    if (status < 0) return CngError(status);
    return digest;
}

}  // namespace velka
