#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>

#include "web/RequestPath.h"

// The tokens of the confirmation pages still open. Each is 128 random bits
// from the operating system, made for one command and its parameter, and
// good once and for five minutes. At most kMaxOpen are kept: a new one
// pushes the oldest out, so pages that ask again and again cannot make the
// server hold more. Guarded by its own lock, taken by no one else.
class ConfirmationTokens {
public:
    static constexpr uint64_t kLifetimeMs = 5 * 60 * 1000;
    static constexpr size_t kMaxOpen = 256;
    static constexpr size_t kTokenBytes = 16;
    static constexpr size_t kTokenLength = 2 * kTokenBytes;  // in lower-case hex digits

    // A fresh token for this command (suffix, parameter); empty when the
    // random source fails.
    std::string Issue(const SuffixAndParameter& command, uint64_t nowMs);
    // True when the token is open, younger than kLifetimeMs and was made for
    // exactly this command. Naming a token spends it, whatever the answer.
    bool Redeem(std::string_view token, const SuffixAndParameter& command, uint64_t nowMs);
    // Tokens that could still be redeemed.
    size_t OpenCount(uint64_t nowMs) const;

private:
    struct Entry {
        std::string token;
        SuffixAndParameter command;
        uint64_t issuedMs;
    };
    // A clock read just before another thread's issue may lag it a little.
    static bool Expired(const Entry& entry, uint64_t nowMs) {
        return nowMs >= entry.issuedMs && nowMs - entry.issuedMs >= kLifetimeMs;
    }

    mutable std::mutex lock_;
    std::deque<Entry> open_;  // in the order issued, oldest first
};
