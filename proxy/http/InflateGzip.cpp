#include "http/InflateGzip.h"

#include <zlib.h>

#include <algorithm>

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

    bool Open(const char* input, char* output) {
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(input));
        z.avail_in = 0;
        z.next_out = reinterpret_cast<Bytef*>(output);
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

enum class LoopEnd { Success, Failure };

// The byte-at-a-time loop, continued from whatever state the stream is in.
LoopEnd RunBytewise(z_stream& z, unsigned inputLength, unsigned capacity) {
    while (z.total_out < capacity && z.total_in < inputLength) {
        z.avail_in = 1;
        z.avail_out = 1;
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

// One whole-buffer call handing zlib the given amounts from where the stream stands.
int Bulk(z_stream& z, unsigned inputAvailable, unsigned outputAvailable) {
    z.avail_in = inputAvailable;
    z.avail_out = outputAvailable;
    int r = inflate(&z, Z_NO_FLUSH);
    z.avail_in = 0;
    z.avail_out = 0;
    return r;
}

bool AtCallBoundary(z_stream& z) { return (inflateMark(&z) & 0xFFFF) != 0; }

// Decodes whole-buffer up to about `target` output bytes, never touching the
// last input byte nor the capacity-th output byte, then looks for a point
// where a byte-loop call begins and runs the loop from there. Returns false
// (stream unusable, start again further back) when no such point was found
// before the ends.
bool TryFromTarget(Stream& s, const char* input, unsigned inputLength, char* output, unsigned capacity,
                   unsigned target, LoopEnd& end) {
    if (!s.Open(input, output)) {
        end = LoopEnd::Failure;
        return true;
    }
    z_stream& z = s.z;
    // Never the last input byte (inputLength >= 1 here) nor write number `capacity`.
    const unsigned inputLimit = inputLength - 1;
    const unsigned outputLimit = capacity - 1;
    auto inputLeft = [&] { return inputLimit - static_cast<unsigned>(z.total_in); };
    if (target > 0) {
        int r = Bulk(z, inputLeft(), std::min(target, outputLimit));
        if (r == Z_STREAM_END) {
            end = LoopEnd::Success;
            return true;
        }
        if (r != Z_OK && r != Z_BUF_ERROR) {  // an error before both ends: the loop meets it too
            end = LoopEnd::Failure;
            return true;
        }
        constexpr int kSteps = 512;
        for (int step = 0; !AtCallBoundary(z); ++step) {
            if (step == kSteps || z.total_out >= outputLimit) return false;
            uLong before = z.total_in + z.total_out;
            r = Bulk(z, inputLeft(), 1);
            if (r == Z_STREAM_END) {
                end = LoopEnd::Success;
                return true;
            }
            if (r != Z_OK && r != Z_BUF_ERROR) {
                end = LoopEnd::Failure;
                return true;
            }
            if (z.total_in + z.total_out == before) return false;  // blocked at an end
        }
    }
    end = RunBytewise(z, inputLength, capacity);
    return true;
}

}  // namespace

int InflateGzipBytewise(const char* input, unsigned inputLength, char* output, unsigned* outputLength) {
    Stream s;
    if (!s.Open(input, output)) return -1;
    return Finish(s, RunBytewise(s.z, inputLength, *outputLength), outputLength);
}

int InflateGzip(const char* input, unsigned inputLength, char* output, unsigned* outputLength) {
    const unsigned capacity = *outputLength;
    uLong firstOut = 0;
    {
        Stream s;
        if (!s.Open(input, output)) return -1;
        if (inputLength == 0 || capacity == 0) return Finish(s, LoopEnd::Success, outputLength);
        int r = Bulk(s.z, inputLength, capacity);
        if (r == Z_STREAM_END) return Finish(s, LoopEnd::Success, outputLength);
        bool beforeEnds = s.z.total_out < capacity && s.z.total_in < inputLength;
        if (r != Z_OK && r != Z_BUF_ERROR && beforeEnds) return Finish(s, LoopEnd::Failure, outputLength);
        firstOut = s.z.total_out;
    }
    // The first pass ended at the capacity, at the end of the input or at an
    // error right there: redo the last stretch exactly as the byte loop does.
    uLong margin = 4096;
    for (;;) {
        unsigned target = firstOut > margin ? static_cast<unsigned>(firstOut - margin) : 0;
        Stream s;
        LoopEnd end = LoopEnd::Success;
        if (TryFromTarget(s, input, inputLength, output, capacity, target, end)) return Finish(s, end, outputLength);
        if (target == 0) return -1;  // not reached: from the start every point is a call boundary
        margin *= 8;
    }
}
