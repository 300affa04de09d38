#include <gtest/gtest.h>

#include <string>

#include "delivery/http_sender.h"

using Corvex::Tracking::base64Encode;
using Corvex::Tracking::makeBasicToken;

namespace {

std::string encode(const std::string& bytes) {
    return base64Encode(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
}

}  // namespace

TEST(Base64, EncodesTheRfc4648TestVectors) {
    EXPECT_EQ(encode(""), "");
    EXPECT_EQ(encode("f"), "Zg==");
    EXPECT_EQ(encode("fo"), "Zm8=");
    EXPECT_EQ(encode("foo"), "Zm9v");
    EXPECT_EQ(encode("foob"), "Zm9vYg==");
    EXPECT_EQ(encode("fooba"), "Zm9vYmE=");
    EXPECT_EQ(encode("foobar"), "Zm9vYmFy");
    EXPECT_EQ(base64Encode(nullptr, 0), "");
}

TEST(Base64, UsesTheStandardAlphabetForEveryByteAndNoLineBreaks) {
    EXPECT_EQ(encode(std::string("\x00\x10\x83\x10\x51\x87", 6)), "ABCDEFGH");
    EXPECT_EQ(encode("\xFB\xEF\xBE"), "++++");
    EXPECT_EQ(encode("\xFF\xFF\xFF"), "////");
    EXPECT_EQ(encode(std::string("\x00", 1)), "AA==");
    const std::string encoded = encode(std::string(300, '\xA5'));
    EXPECT_EQ(encoded.size(), 400u);
    EXPECT_EQ(encoded.find_first_of("\r\n="), std::string::npos);
}

TEST(BasicToken, EncodesUserColonPasswordWithTheirBytesUnchanged) {
    EXPECT_EQ(makeBasicToken("Aladdin", "open sesame"), "QWxhZGRpbjpvcGVuIHNlc2FtZQ==");
    EXPECT_EQ(makeBasicToken("", ""), "Og==");
    EXPECT_EQ(makeBasicToken("a", ""), "YTo=");
    EXPECT_EQ(makeBasicToken("", "b"), "OmI=");
    // Spaces and colons are kept, and non-ASCII bytes are not re-encoded.
    EXPECT_EQ(makeBasicToken(" k:y ", "p\xC3\xA9"), encode(" k:y :p\xC3\xA9"));
    EXPECT_EQ(makeBasicToken("\xFF", "\xFE"), "/zr+");
}
