// The tokens of open confirmations: random, bound to one command and its
// parameter, good once and for five minutes, and never more than the cap.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "web/ConfirmationTokens.h"

namespace {

SuffixAndParameter Command(const std::string& suffix, const char* parameter) {
    SuffixAndParameter c;
    c.suffix = suffix;
    c.hasParameter = parameter != nullptr;
    c.parameter = parameter ? parameter : "";
    return c;
}

constexpr uint64_t kStart = 1'000'000;

}  // namespace

TEST(ConfirmationTokensTest, GoodOnceForItsOwnCommandWithinFiveMinutes) {
    ConfirmationTokens tokens;
    const auto white = Command(".white", "a.example");
    std::string token = tokens.Issue(white, kStart);
    ASSERT_EQ(token.size(), 32u);
    EXPECT_EQ(token.find_first_not_of("0123456789abcdef"), std::string::npos) << token;
    EXPECT_TRUE(tokens.Redeem(token, white, kStart + ConfirmationTokens::kLifetimeMs - 1));
    EXPECT_FALSE(tokens.Redeem(token, white, kStart + 1)) << "used twice";

    // Bound to the command, its parameter and whether it has one; a wrong
    // pairing spends the token.
    const std::vector<SuffixAndParameter> others = {Command(".black", "a.example"), Command(".white", "b.example"),
                                                    Command(".white", "A.example"), Command(".white", "a.example ")};
    for (const auto& other : others) {
        token = tokens.Issue(white, kStart);
        EXPECT_FALSE(tokens.Redeem(token, other, kStart)) << other.suffix << " " << other.parameter;
        EXPECT_FALSE(tokens.Redeem(token, white, kStart)) << "still good after a wrong pairing";
    }
    token = tokens.Issue(Command(".close", nullptr), kStart);
    EXPECT_FALSE(tokens.Redeem(token, Command(".close", ""), kStart));
    token = tokens.Issue(Command(".close", nullptr), kStart);
    EXPECT_TRUE(tokens.Redeem(token, Command(".close", nullptr), kStart));

    // Five minutes after it was made it is gone.
    token = tokens.Issue(white, kStart);
    EXPECT_EQ(tokens.OpenCount(kStart + ConfirmationTokens::kLifetimeMs - 1), 1u);
    EXPECT_EQ(tokens.OpenCount(kStart + ConfirmationTokens::kLifetimeMs), 0u);
    EXPECT_FALSE(tokens.Redeem(token, white, kStart + ConfirmationTokens::kLifetimeMs));

    // Guesses: the wrong length, one digit off.
    token = tokens.Issue(white, kStart);
    std::string offByOne = token;
    offByOne[31] = offByOne[31] == '0' ? '1' : '0';
    for (const std::string& guess : {std::string(), token.substr(0, 31), token + "0", offByOne})
        EXPECT_FALSE(tokens.Redeem(guess, white, kStart)) << guess;
    EXPECT_TRUE(tokens.Redeem(token, white, kStart)) << "a wrong guess spent another token";
}

TEST(ConfirmationTokensTest, AtMostTheCapAreOpenAndTheOldestGoFirst) {
    ConfirmationTokens tokens;
    const auto command = Command(".black", "a.example");
    std::vector<std::string> issued;
    std::set<std::string> distinct;
    for (size_t i = 0; i < ConfirmationTokens::kMaxOpen + 10; ++i) {
        issued.push_back(tokens.Issue(command, kStart + i));
        distinct.insert(issued.back());
    }
    EXPECT_EQ(distinct.size(), issued.size()) << "tokens repeat";
    const uint64_t now = kStart + issued.size();
    EXPECT_EQ(tokens.OpenCount(now), ConfirmationTokens::kMaxOpen);
    for (size_t i = 0; i < 10; ++i) EXPECT_FALSE(tokens.Redeem(issued[i], command, now)) << "the oldest stay: " << i;
    for (size_t i = 10; i < issued.size(); ++i) EXPECT_TRUE(tokens.Redeem(issued[i], command, now)) << i;
    EXPECT_EQ(tokens.OpenCount(now), 0u);
}
