#include "web/ConfirmationTokens.h"

#include <platform/Crypto.h>

namespace {

// Compares every character whatever the first difference, so the time an
// answer takes tells nothing about how much of a guess was right.
bool SameToken(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    unsigned char difference = 0;
    for (size_t i = 0; i < a.size(); ++i)
        difference |= static_cast<unsigned char>(a[i] ^ b[i]);
    return difference == 0;
}

bool SameCommand(const SuffixAndParameter& a, const SuffixAndParameter& b) {
    return a.suffix == b.suffix && a.hasParameter == b.hasParameter && a.parameter == b.parameter;
}

}  // namespace

std::string ConfirmationTokens::Issue(const SuffixAndParameter& command, uint64_t nowMs) {
    unsigned char bits[kTokenBytes];
    if (!platform::RandomBytes(bits, sizeof bits)) return {};
    static constexpr char kHex[] = "0123456789abcdef";
    std::string token;
    token.reserve(kTokenLength);
    for (unsigned char b : bits) {
        token.push_back(kHex[b >> 4]);
        token.push_back(kHex[b & 15]);
    }
    std::lock_guard<std::mutex> g(lock_);
    while (!open_.empty() && (open_.size() >= kMaxOpen || Expired(open_.front(), nowMs))) open_.pop_front();
    open_.push_back(Entry{token, command, nowMs});
    return token;
}

bool ConfirmationTokens::Redeem(std::string_view token, const SuffixAndParameter& command, uint64_t nowMs) {
    if (token.size() != kTokenLength) return false;
    std::lock_guard<std::mutex> g(lock_);
    auto found = open_.end();
    for (auto it = open_.begin(); it != open_.end(); ++it)
        if (SameToken(it->token, token)) found = it;
    if (found == open_.end()) return false;
    const bool good = !Expired(*found, nowMs) && SameCommand(found->command, command);
    open_.erase(found);
    return good;
}

size_t ConfirmationTokens::OpenCount(uint64_t nowMs) const {
    std::lock_guard<std::mutex> g(lock_);
    size_t n = 0;
    for (const Entry& entry : open_)
        if (!Expired(entry, nowMs)) ++n;
    return n;
}
