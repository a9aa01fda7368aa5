#include "https/RefusedHosts.h"

namespace {

std::string Lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

}  // namespace

RefusedHosts::RefusedHosts(size_t capacity) : capacity_(capacity) {}

void RefusedHosts::NoteHandshake(const std::string& host, tls::HandshakeStatus status) {
    switch (status) {
        case tls::HandshakeStatus::PeerRefusedCertificate: Remember(Lower(host)); break;
        case tls::HandshakeStatus::Done: Forget(Lower(host)); break;
        case tls::HandshakeStatus::TimedOut:
        case tls::HandshakeStatus::Closed:
        case tls::HandshakeStatus::VerifyFailed:
        case tls::HandshakeStatus::Failed: break;
    }
}

void RefusedHosts::Remember(const std::string& host) {
    std::lock_guard<std::mutex> g(lock_);
    auto it = hosts_.find(host);
    if (it != hosts_.end()) {
        order_.splice(order_.begin(), order_, it->second);
        return;
    }
    if (capacity_ == 0) return;
    order_.push_front(host);
    hosts_.emplace(host, order_.begin());
    if (order_.size() > capacity_) {
        hosts_.erase(order_.back());
        order_.pop_back();
    }
}

void RefusedHosts::Forget(const std::string& host) {
    std::lock_guard<std::mutex> g(lock_);
    auto it = hosts_.find(host);
    if (it == hosts_.end()) return;
    order_.erase(it->second);
    hosts_.erase(it);
}

bool RefusedHosts::Contains(const std::string& host) const {
    std::lock_guard<std::mutex> g(lock_);
    return hosts_.count(Lower(host)) != 0;
}

size_t RefusedHosts::Size() const {
    std::lock_guard<std::mutex> g(lock_);
    return hosts_.size();
}
