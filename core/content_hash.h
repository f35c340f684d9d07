// The hash that proves a copy: XXH3-128 over a file's bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace ostrivane {

// A 128-bit XXH3 hash of a file's content.
struct ContentHash {
    std::uint64_t high = 0, low = 0;
    friend bool operator==(const ContentHash&, const ContentHash&) = default;
    // The 32 lower-case hex digits in the order xxhsum -H2 prints them (high half first).
    std::string hex() const;
};

// Hashes bytes given piece by piece. Not copyable; one per thread at a time.
class ContentHasher {
  public:
    ContentHasher();
    ~ContentHasher();
    ContentHasher(const ContentHasher&) = delete;
    ContentHasher& operator=(const ContentHasher&) = delete;

    // Starts a new hash, forgetting what was given before.
    void reset();
    void update(const void* data, std::size_t size);
    // The hash of everything given since the last reset().
    ContentHash digest() const;

  private:
    struct State;
    std::unique_ptr<State> state_;
};

// The hash of `size` bytes at `data` in one piece.
ContentHash HashOf(const void* data, std::size_t size);

}  // namespace ostrivane
