#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Reading the request line of the local web server. Byte-level functions
// without sockets, so every case is testable on exact input.

// Limits of one request, as the handler's buffers have them.
constexpr size_t kRequestBufferSize = 15360;  // a receive that fills it is refused
constexpr size_t kRequestLineSize = 4096;     // a first line this long or longer is refused
constexpr size_t kSuffixSize = 20;            // a suffix of 20 or more characters is refused
constexpr size_t kFileNameSize = 260;         // root + path of 260 or more characters is refused

// The request path (from its first "/", query included) of a GET or POST
// first line; empty when the line does not qualify.
std::string ParseRequestPath(std::string_view request);

// True when the request line names the method POST (a form's submission);
// any other line that qualifies is read as a GET.
bool IsPostLine(std::string_view request);

// The suffix runs from the first "." of the path to the first "?" after it
// (or to the end); the parameter starts at the fifth character after that
// "?" (so "?url=host" gives "host"). Without a "?" there is no parameter.
struct SuffixAndParameter {
    std::string suffix;
    bool hasParameter = false;
    std::string parameter;  // empty when absent or when the query is four characters or fewer
};
SuffixAndParameter SplitSuffixAndParameter(std::string_view path);

void LowerAscii(std::string& text);

// Content-Type for a lower-cased suffix.
const char* MimeTypeFor(std::string_view suffix);

// True when the path must not be opened: a "." ".." segment, plain or
// percent-encoded, split at "/" or "\", or a NUL byte. The page folder sits
// next to the user's lists and configuration.
bool LeavesPageFolder(std::string_view path);
