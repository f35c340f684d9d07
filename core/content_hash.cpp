#include "core/content_hash.h"

// The hasher's state lives in our object, so its layout is needed.
#define XXH_STATIC_LINKING_ONLY
#ifdef _WIN32
// The Windows build has no xxhash library: the header brings the whole implementation.
#define XXH_INLINE_ALL
#endif
#include <xxhash.h>

namespace ostrivane {

struct ContentHasher::State {
    XXH3_state_t xxh;
};

std::string ContentHash::hex() const {
    XXH128_hash_t hash{low, high};
    XXH128_canonical_t canonical;
    XXH128_canonicalFromHash(&canonical, hash);
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (unsigned char byte : canonical.digest) {
        text += digits[byte >> 4];
        text += digits[byte & 15];
    }
    return text;
}

ContentHasher::ContentHasher() : state_(std::make_unique<State>()) {
    reset();
}
ContentHasher::~ContentHasher() = default;

void ContentHasher::reset() {
    XXH3_128bits_reset(&state_->xxh);
}

void ContentHasher::update(const void* data, std::size_t size) {
    if (size > 0) XXH3_128bits_update(&state_->xxh, data, size);
}

ContentHash ContentHasher::digest() const {
    const XXH128_hash_t hash = XXH3_128bits_digest(&state_->xxh);
    return {hash.high64, hash.low64};
}

ContentHash HashOf(const void* data, std::size_t size) {
    const XXH128_hash_t hash = XXH3_128bits(data, size);
    return {hash.high64, hash.low64};
}

}  // namespace ostrivane
