#include "http/RequestBodyEnd.h"

namespace {

// A chunk-size or trailer line longer than this is not a browser's.
constexpr size_t kMaxFramingLine = 4096;

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

RequestBodyEnd::RequestBodyEnd(const RequestFraming& framing) {
    switch (framing.body) {
        case RequestBody::Length:
            remaining_ = framing.length;
            state_ = remaining_ > 0 ? State::Counting : State::Done;
            return;
        case RequestBody::Chunked:
            state_ = State::SizeLine;
            return;
        case RequestBody::None:
        case RequestBody::Conflicting:
            state_ = State::Done;
            return;
    }
    state_ = State::Done;
}

int64_t RequestBodyEnd::KnownRemaining() const {
    if (state_ == State::Counting) return remaining_;
    if (state_ == State::Done || state_ == State::Broken) return 0;
    return -1;
}

// Collects one framing line; true when its "\n" arrived.
bool RequestBodyEnd::LineEnded(char c) {
    if (c == '\n') return true;
    if (line_.size() >= kMaxFramingLine) {
        state_ = State::Broken;
        return false;
    }
    line_.push_back(c);
    return false;
}

void RequestBodyEnd::EndOfLine() {
    std::string_view line(line_);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    switch (state_) {
        case State::SizeLine: {
            int64_t size = 0;
            size_t digits = 0;
            for (; digits < line.size() && HexDigit(line[digits]) >= 0; ++digits) {
                if (size > (INT64_MAX >> 4)) {
                    state_ = State::Broken;
                    return;
                }
                size = size * 16 + HexDigit(line[digits]);
            }
            if (digits == 0) {
                state_ = State::Broken;
            } else if (size == 0) {
                state_ = State::Trailer;
            } else {
                remaining_ = size;
                state_ = State::Data;
            }
            break;
        }
        case State::DataEnd:
            state_ = line.empty() ? State::SizeLine : State::Broken;
            break;
        case State::Trailer:
            if (line.empty()) state_ = State::Done;
            break;
        case State::Counting:
        case State::Data:
        case State::Done:
        case State::Broken:
            break;
    }
    line_.clear();
}

size_t RequestBodyEnd::Take(std::string_view bytes) {
    size_t used = 0;
    while (used < bytes.size()) {
        switch (state_) {
            case State::Done:
            case State::Broken:
                return used;
            case State::Counting:
            case State::Data: {
                size_t n = bytes.size() - used;
                if (static_cast<int64_t>(n) > remaining_) n = static_cast<size_t>(remaining_);
                used += n;
                remaining_ -= static_cast<int64_t>(n);
                if (remaining_ == 0) state_ = state_ == State::Counting ? State::Done : State::DataEnd;
                break;
            }
            case State::SizeLine:
            case State::DataEnd:
            case State::Trailer:
                if (LineEnded(bytes[used++])) EndOfLine();
                break;
        }
    }
    return used;
}
