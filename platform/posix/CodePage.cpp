#include "platform/CodePage.h"

#include <iconv.h>

#include <cerrno>

namespace platform {

namespace {

// iconv descriptors are not shareable between threads; each thread keeps its
// own pair, opened on first use.
struct Converters {
    iconv_t toWide = iconv_t(-1);
    iconv_t toNarrow = iconv_t(-1);
    Converters() {
        toWide = iconv_open("WCHAR_T", "CP936");
        toNarrow = iconv_open("CP936", "WCHAR_T");
    }
    ~Converters() {
        if (toWide != iconv_t(-1)) iconv_close(toWide);
        if (toNarrow != iconv_t(-1)) iconv_close(toNarrow);
    }
};

Converters& ThreadConverters() {
    thread_local Converters c;
    return c;
}

}  // namespace

std::wstring Cp936ToWide(std::string_view bytes) {
    std::wstring out;
    if (bytes.empty()) return out;
    iconv_t cd = ThreadConverters().toWide;
    if (cd == iconv_t(-1)) {  // no converter: keep ASCII, mark the rest
        for (char c : bytes) out.push_back(static_cast<unsigned char>(c) < 0x80 ? c : L'\xFFFD');
        return out;
    }
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    char* in = const_cast<char*>(bytes.data());
    size_t inLeft = bytes.size();
    std::wstring buf(bytes.size() + 1, L'\0');
    while (inLeft > 0) {
        char* outp = reinterpret_cast<char*>(buf.data());
        size_t outLeft = buf.size() * sizeof(wchar_t);
        size_t r = iconv(cd, &in, &inLeft, &outp, &outLeft);
        out.append(buf.data(), (buf.size() * sizeof(wchar_t) - outLeft) / sizeof(wchar_t));
        if (r != size_t(-1)) break;
        if (errno == E2BIG) continue;
        // An invalid or truncated sequence: one replacement, then resync on the next byte.
        out.push_back(L'\xFFFD');
        ++in;
        --inLeft;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    return out;
}

std::string WideToCp936(std::wstring_view text) {
    std::string out;
    if (text.empty()) return out;
    iconv_t cd = ThreadConverters().toNarrow;
    if (cd == iconv_t(-1)) {
        for (wchar_t c : text) out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
        return out;
    }
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    char* in = reinterpret_cast<char*>(const_cast<wchar_t*>(text.data()));
    size_t inLeft = text.size() * sizeof(wchar_t);
    std::string buf(text.size() * 2 + 8, '\0');
    while (inLeft > 0) {
        char* outp = buf.data();
        size_t outLeft = buf.size();
        size_t r = iconv(cd, &in, &inLeft, &outp, &outLeft);
        out.append(buf.data(), buf.size() - outLeft);
        if (r != size_t(-1)) break;
        if (errno == E2BIG) continue;
        // A character code page 936 cannot hold.
        out.push_back('?');
        in += sizeof(wchar_t);
        inLeft -= inLeft >= sizeof(wchar_t) ? sizeof(wchar_t) : inLeft;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    return out;
}

}  // namespace platform
