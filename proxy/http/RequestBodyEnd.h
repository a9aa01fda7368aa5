#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "http/RequestFraming.h"

// Finds where a request's body ends in the bytes that follow its header
// block, so that exactly the body is forwarded: a second request behind it on
// the same connection never reaches the origin. Fed the bytes in the order
// they arrive.
class RequestBodyEnd {
public:
    // Framing None or Conflicting: complete at once (nothing is a body).
    explicit RequestBodyEnd(const RequestFraming& framing);

    // How many of `bytes` (the next ones after those already taken) belong
    // to the body. Once Complete or Failed, none do.
    size_t Take(std::string_view bytes);
    bool Complete() const { return state_ == State::Done; }
    // A chunked body whose framing cannot be read: the request is broken.
    bool Failed() const { return state_ == State::Broken; }
    // With a known length, the bytes still to come (so a receive can ask for
    // no more); -1 when only the framing will tell.
    int64_t KnownRemaining() const;

private:
    enum class State { Counting, SizeLine, Data, DataEnd, Trailer, Done, Broken };
    bool LineEnded(char c);
    void EndOfLine();

    State state_;
    int64_t remaining_ = 0;
    std::string line_;  // the chunk-size or trailer line being read
};
