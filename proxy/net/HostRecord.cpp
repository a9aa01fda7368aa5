#include "net/HostRecord.h"

#include <algorithm>
#include <cstring>

namespace {

void PutLe32(unsigned char* out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out[i] = static_cast<unsigned char>(v >> (8 * i));
}

uint32_t GetLe32(const unsigned char* in) {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= static_cast<uint32_t>(in[i]) << (8 * i);
    return v;
}

}  // namespace

HostRecord HostRecord::Make(uint32_t address, const std::string& host, int32_t connectMs, int32_t stamp) {
    HostRecord r;
    r.address = address;
    std::memcpy(r.hostName, host.data(), std::min(host.size(), kMaxHostName));
    r.connectMs = connectMs;
    r.stamp = stamp;
    return r;
}

std::string HostRecord::Host() const { return std::string(hostName, strnlen(hostName, sizeof hostName)); }

HostRecord::Bytes HostRecord::ToBytes() const {
    Bytes b{};
    // The address is kept as the bytes of a socket address (network order).
    std::memcpy(b.data(), &address, 4);
    std::memcpy(b.data() + 4, hostName, sizeof hostName);
    PutLe32(b.data() + 260, static_cast<uint32_t>(connectMs));
    PutLe32(b.data() + 264, static_cast<uint32_t>(stamp));
    return b;
}

HostRecord HostRecord::FromBytes(const Bytes& b) {
    HostRecord r;
    std::memcpy(&r.address, b.data(), 4);
    std::memcpy(r.hostName, b.data() + 4, sizeof r.hostName);
    r.hostName[kMaxHostName] = '\0';  // a file record without its terminator still gives a sound name
    r.connectMs = static_cast<int32_t>(GetLe32(b.data() + 260));
    r.stamp = static_cast<int32_t>(GetLe32(b.data() + 264));
    return r;
}
