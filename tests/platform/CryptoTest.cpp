// The system's random source and the SHA-256 of a file, against the
// published test vectors.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "platform/Crypto.h"
#include "support/TempFolder.h"

namespace {

std::string Hex(const platform::Sha256Digest& digest) {
    std::string out;
    char two[3];
    for (uint8_t b : digest) {
        std::snprintf(two, sizeof two, "%02x", b);
        out += two;
    }
    return out;
}

std::string DigestOf(const testsupport::TempFolder& folder, const std::string& content) {
    folder.Write("file.bin", content);
    platform::Sha256Digest digest{};
    if (!platform::Sha256OfFile(folder / "file.bin", digest)) return "<unreadable>";
    return Hex(digest);
}

}  // namespace

TEST(CryptoTest, Sha256OfFilesOfEverySize) {
    testsupport::TempFolder folder;
    EXPECT_EQ(DigestOf(folder, ""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(DigestOf(folder, "abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    // A million bytes: many reads of the file.
    EXPECT_EQ(DigestOf(folder, std::string(1000000, 'a')),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
    // Every byte value, NUL and CR LF among them, read as they are.
    std::string bytes;
    for (int i = 0; i < 256; ++i) bytes.push_back(static_cast<char>(i));
    EXPECT_EQ(DigestOf(folder, bytes), "40aff2e9d2d8922e47afd4648e6967497158785fbd1da870e7110266bf944880");
    platform::Sha256Digest digest{};
    EXPECT_FALSE(platform::Sha256OfFile(folder / "missing.bin", digest));
    EXPECT_FALSE(platform::Sha256OfFile(folder.path(), digest)) << "a folder";
}

TEST(CryptoTest, RandomBytesFillTheWholeBufferAndDiffer) {
    std::string a(65536, '\0'), b(16, '\0'), c(16, '\0');
    ASSERT_TRUE(platform::RandomBytes(a.data(), a.size()));
    // A block left untouched would stay zero (2^-32768 by chance).
    for (size_t block = 0; block < a.size(); block += 4096)
        EXPECT_NE(a.substr(block, 4096), std::string(4096, '\0')) << block;
    ASSERT_TRUE(platform::RandomBytes(b.data(), b.size()));
    ASSERT_TRUE(platform::RandomBytes(c.data(), c.size()));
    EXPECT_NE(b, c);
    EXPECT_TRUE(platform::RandomBytes(nullptr, 0));
}
