// The ';'-text assembler the serial device models read the panel's commands with.
#include "devsim/SerialModel.h"

namespace {

std::vector<std::string> feed(SerialTexts* t, size_t max, const std::string& bytes) {
    std::vector<std::string> got;
    SerialTextsFeed(t, max, bytes.data(), bytes.size(),
                    [&](const std::string& text) { got.push_back(text); });
    return got;
}

TEST(SerialTexts, SplitNoisyAndOverlongTexts) {
    SerialTexts t;
    // A text split over two reads is one text; line noise inside it is left out.
    EXPECT_TRUE(feed(&t, 8, "T\x01X").empty());
    EXPECT_EQ(feed(&t, 8, "2;RX;"), (std::vector<std::string>{"TX2", "RX"}));
    // Nine bytes with a limit of eight: dropped up to its ';', the next one kept.
    EXPECT_EQ(feed(&t, 8, "ABCDEFGHI;FA1;"), (std::vector<std::string>{"FA1"}));
    // Exactly eight is still a text.
    EXPECT_EQ(feed(&t, 8, "ABCDEFGH;"), (std::vector<std::string>{"ABCDEFGH"}));
    // A reset forgets a partial text.
    feed(&t, 8, "PAR");
    SerialTextsReset(&t);
    EXPECT_EQ(feed(&t, 8, "ST;"), (std::vector<std::string>{"ST"}));
}

} // namespace
