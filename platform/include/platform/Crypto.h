#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

// Fills `out` with `n` bytes from the operating system's random source (the
// one meant for keys). False when the source cannot be read; `out` must then
// not be used.
bool RandomBytes(void* out, size_t n);

using Sha256Digest = std::array<uint8_t, 32>;

// SHA-256 of a file's bytes. False when the file cannot be opened or read to
// its end.
bool Sha256OfFile(const std::string& path, Sha256Digest& digest);

}  // namespace platform
