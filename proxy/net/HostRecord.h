#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <type_traits>

// One remembered host: the IPv4 address that connected fastest, how long it
// took and when the entry was made or last used. The same 268 bytes are the
// record of "host.dat" (little-endian, no padding).
struct HostRecord {
    uint32_t address = 0;     // network byte order, as in a socket address; 0 is not valid
    char hostName[256] = {};  // zero-terminated, at most 255 bytes, the rest zero
    int32_t connectMs = 0;    // milliseconds the chosen connect took; negative is not valid
    int32_t stamp = 0;        // seconds since 1970-01-01 UTC (low 32 bits) of creation or last use

    static constexpr size_t kSize = 268;
    static constexpr size_t kMaxHostName = 255;
    using Bytes = std::array<unsigned char, kSize>;

    // A record for the host (cut to 255 bytes) with the rest of the name zero.
    static HostRecord Make(uint32_t address, const std::string& host, int32_t connectMs, int32_t stamp);
    std::string Host() const;
    // The file form; independent of the machine's byte order.
    Bytes ToBytes() const;
    static HostRecord FromBytes(const Bytes& bytes);
};

static_assert(std::is_standard_layout_v<HostRecord> && std::is_trivially_copyable_v<HostRecord>);
static_assert(sizeof(HostRecord) == HostRecord::kSize, "HostRecord must stay 268 bytes");
static_assert(offsetof(HostRecord, address) == 0);
static_assert(offsetof(HostRecord, hostName) == 4);
static_assert(offsetof(HostRecord, connectMs) == 260);
static_assert(offsetof(HostRecord, stamp) == 264);
