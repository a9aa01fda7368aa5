#include "http/InflateGzip.h"

#include <zlib.h>

#include <algorithm>
#include <string>

// How the whole-buffer form stays identical to the byte-at-a-time loop.
//
// zlib's slow path pulls input bytes lazily and writes output bytes one by
// one, so decoding is a fixed sequence of events: pulls (P), writes (W), and
// stored-block copies (C, a pull and a write at once). A call given one byte
// of each runs events until it would need a second byte of either kind. The
// loop stops between calls: after the call holding the capacity-th write or
// the last pull. What exactly it produces there depends on how the calls cut
// the event sequence, so near those two ends we must run the very same loop.
//
// Away from the ends a whole-buffer call visits the same states at code
// boundaries (inflate_fast hands back whole unused bytes). A whole-buffer call
// limited to L output bytes stops just before write L+1. That point also
// begins a call of the byte loop when the next event is the continuation of
// a match that has already written a byte (two writes in a row), or a stored
// copy (which always needs a fresh call). inflateMark tells us both: its low
// 16 bits are the bytes already written of the current match, or the bytes
// left of a stored block. From such a point the byte loop is run to the end.
//
// When the first whole-buffer pass ends cleanly (end of the member, or an
// error well before both ends) its result is already the loop's result.

namespace {

constexpr int kWindowBits = 31;  // the largest window, gzip wrapper only
constexpr const char* kZlibVersion = "1.2.11";

struct Stream {
    z_stream z{};
    bool open = false;

    bool Open(const char* input) {
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(input));
        z.avail_in = 0;
        z.next_out = nullptr;
        z.avail_out = 0;
        open = inflateInit2_(&z, kWindowBits, kZlibVersion, static_cast<int>(sizeof(z_stream))) == Z_OK;
        return open;
    }
    // Ends the stream; false when zlib reports a failure.
    bool Close() {
        if (!open) return true;
        open = false;
        return inflateEnd(&z) == Z_OK;
    }
    ~Stream() { Close(); }
};

// Where decoded bytes go: a caller's buffer of the full capacity, or a string
// that grows as bytes are decoded (doubling, never beyond the capacity). zlib
// keeps its own window, so the output may move between calls.
class Sink {
public:
    Sink(char* fixed, unsigned capacity) : fixed(fixed), growing(nullptr), capacity(capacity) {}
    Sink(std::string& growing, unsigned capacity) : fixed(nullptr), growing(&growing), capacity(capacity) {}

    // Points the stream's output at its next byte and answers how many of the
    // `wanted` bytes (at most capacity - total_out) fit there now: all of them
    // for a fixed buffer, at least one for a growing one.
    unsigned Room(z_stream& z, unsigned wanted) {
        const size_t at = z.total_out;
        if (!growing) {
            z.next_out = reinterpret_cast<Bytef*>(fixed + at);
            return wanted;
        }
        if (wanted > 0 && at >= growing->size()) {
            size_t grown = std::max<size_t>(kFirstSize, growing->size() * 2);
            growing->resize(std::max(at + 1, std::min<size_t>(grown, capacity)));
        }
        z.next_out = reinterpret_cast<Bytef*>(growing->data() + at);
        return static_cast<unsigned>(std::min<size_t>(wanted, growing->size() - at));
    }

private:
    static constexpr size_t kFirstSize = 4096;
    char* fixed;
    std::string* growing;
    unsigned capacity;
};

enum class LoopEnd { Success, Failure };

// The byte-at-a-time loop, continued from whatever state the stream is in.
LoopEnd RunBytewise(z_stream& z, Sink& sink, unsigned inputLength, unsigned capacity) {
    while (z.total_out < capacity && z.total_in < inputLength) {
        z.avail_in = 1;
        z.avail_out = sink.Room(z, 1);
        int r = inflate(&z, Z_NO_FLUSH);
        if (r == Z_STREAM_END) break;
        if (r != Z_OK) return LoopEnd::Failure;
    }
    return LoopEnd::Success;
}

int Finish(Stream& s, LoopEnd end, unsigned* outputLength) {
    bool closed = s.Close();
    if (end == LoopEnd::Failure || !closed) return -1;
    *outputLength = static_cast<unsigned>(s.z.total_out);
    return 0;
}

// One whole-buffer call handing zlib the given amounts from where the stream
// stands. A growing output takes it in pieces: a call that stops because its
// piece is full stops just before the piece's last write plus one, the state
// a single call would pass there, so the pieces end where the one call would.
int Bulk(z_stream& z, Sink& sink, unsigned inputAvailable, unsigned outputAvailable) {
    z.avail_in = inputAvailable;
    int r;
    for (;;) {
        const unsigned piece = sink.Room(z, outputAvailable);
        z.avail_out = piece;
        r = inflate(&z, Z_NO_FLUSH);
        outputAvailable -= piece - z.avail_out;
        if (r != Z_OK || z.avail_out != 0 || outputAvailable == 0) break;
    }
    z.avail_in = 0;
    z.avail_out = 0;
    return r;
}

bool AtCallBoundary(z_stream& z) { return (inflateMark(&z) & 0xFFFF) != 0; }

enum class Step { Finished, NoBoundary };

bool IsError(int r) { return r != Z_OK && r != Z_BUF_ERROR; }

// From a state clear of both ends (the last input byte not pulled, write
// number `capacity` not made), steps one write at a time to a point where a
// byte-loop call begins and runs the loop from there. NoBoundary (stream
// unusable) when no such point comes before the ends.
Step FinishExactly(z_stream& z, Sink& sink, unsigned inputLength, unsigned capacity, LoopEnd& end) {
    const unsigned inputLimit = inputLength - 1;
    const unsigned outputLimit = capacity - 1;
    constexpr int kSteps = 512;
    for (int step = 0; !AtCallBoundary(z); ++step) {
        if (step == kSteps || z.total_out >= outputLimit) return Step::NoBoundary;
        uLong before = z.total_in + z.total_out;
        int r = Bulk(z, sink, inputLimit - static_cast<unsigned>(z.total_in), 1);
        if (r == Z_STREAM_END || IsError(r)) {  // met before both ends: the loop meets it too
            end = r == Z_STREAM_END ? LoopEnd::Success : LoopEnd::Failure;
            return Step::Finished;
        }
        if (z.total_in + z.total_out == before) return Step::NoBoundary;  // blocked at an end
    }
    end = RunBytewise(z, sink, inputLength, capacity);
    return Step::Finished;
}

// Decodes whole-buffer up to `target` output bytes, clear of both ends, then
// finishes exactly. From the start (target 0) every point is a call boundary.
Step FromTarget(Stream& s, Sink& sink, const char* input, unsigned inputLength, unsigned capacity, unsigned target,
                LoopEnd& end) {
    if (!s.Open(input)) {
        end = LoopEnd::Failure;
        return Step::Finished;
    }
    if (target == 0) {
        end = RunBytewise(s.z, sink, inputLength, capacity);
        return Step::Finished;
    }
    int r = Bulk(s.z, sink, inputLength - 1, std::min(target, capacity - 1));
    if (r == Z_STREAM_END || IsError(r)) {
        end = r == Z_STREAM_END ? LoopEnd::Success : LoopEnd::Failure;
        return Step::Finished;
    }
    return FinishExactly(s.z, sink, inputLength, capacity, end);
}

constexpr unsigned kTailMargin = 4096;

int Inflate(const char* input, unsigned inputLength, Sink& sink, unsigned capacity, unsigned* outputLength) {
    uLong firstOut = 0;
    {
        Stream s;
        if (!s.Open(input)) return -1;
        if (inputLength == 0 || capacity == 0) return Finish(s, LoopEnd::Success, outputLength);
        // Whole-buffer, holding back the last stretch of the capacity.
        const unsigned firstLimit = capacity > kTailMargin ? capacity - kTailMargin : capacity;
        int r = Bulk(s.z, sink, inputLength, firstLimit);
        if (r == Z_STREAM_END) return Finish(s, LoopEnd::Success, outputLength);
        const bool beforeEnds = s.z.total_out < capacity && s.z.total_in < inputLength;
        if (IsError(r)) {
            if (beforeEnds) return Finish(s, LoopEnd::Failure, outputLength);
        } else if (firstLimit < capacity && s.z.total_out == firstLimit && s.z.total_in < inputLength) {
            // Stopped by the held-back capacity, clear of both ends (a bomb, or a
            // page just under the bound): finish here without a second pass.
            LoopEnd end = LoopEnd::Success;
            if (FinishExactly(s.z, sink, inputLength, capacity, end) == Step::Finished) return Finish(s, end, outputLength);
        }
        firstOut = s.z.total_out;
    }
    // The first pass ended at the end of the input, or at an error right at an
    // end, or found no call boundary in time: decode again up to a point further
    // back and finish exactly from there.
    uLong margin = kTailMargin;
    for (;;) {
        unsigned target = firstOut > margin ? static_cast<unsigned>(firstOut - margin) : 0;
        Stream s;
        LoopEnd end = LoopEnd::Success;
        if (FromTarget(s, sink, input, inputLength, capacity, target, end) == Step::Finished)
            return Finish(s, end, outputLength);
        margin *= 8;
    }
}

}  // namespace

int InflateGzipBytewise(const char* input, unsigned inputLength, char* output, unsigned* outputLength) {
    Stream s;
    Sink sink(output, *outputLength);
    if (!s.Open(input)) return -1;
    return Finish(s, RunBytewise(s.z, sink, inputLength, *outputLength), outputLength);
}

int InflateGzip(const char* input, unsigned inputLength, char* output, unsigned* outputLength) {
    Sink sink(output, *outputLength);
    return Inflate(input, inputLength, sink, *outputLength, outputLength);
}

int InflateGzipInto(const char* input, unsigned inputLength, unsigned capacity, std::string& output) {
    output.clear();
    Sink sink(output, capacity);
    unsigned produced = 0;
    const int r = Inflate(input, inputLength, sink, capacity, &produced);
    output.resize(r == 0 ? produced : 0);
    return r;
}
