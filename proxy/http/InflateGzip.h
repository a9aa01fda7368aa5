#pragma once

#include <string>

// Inflates the first gzip member of `input` into `output`. On entry
// *outputLength holds the capacity of `output`; on success it receives the
// number of bytes produced. Decoding stops, successfully, at the end of the
// first member, when the output is full, or when the input ends (a stream cut
// short yields what was decoded so far). A zlib wrapper or raw deflate is
// refused. Returns 0 on success, -1 on failure.
//
// The result is exactly that of feeding zlib one input byte and one output
// byte per call (InflateGzipBytewise), which is what fixes the stopping
// points to the byte, but the work is done with whole-buffer calls.
int InflateGzip(const char* input, unsigned inputLength, char* output, unsigned* outputLength);

// The same decoding into `output`, which grows as bytes are decoded (never
// beyond `capacity`, and never allocated at the capacity up front) and holds
// exactly the bytes produced on success, nothing on failure.
int InflateGzipInto(const char* input, unsigned inputLength, unsigned capacity, std::string& output);

// The reference form: one inflate call per input byte and output byte. Kept
// for the equivalence tests and the benchmark.
int InflateGzipBytewise(const char* input, unsigned inputLength, char* output, unsigned* outputLength);
