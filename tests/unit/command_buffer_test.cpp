// Bounded command-line text.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "api/command_buffer.h"

namespace dlmgr {
namespace {

TEST(CommandBuffer, PiecesAreCutSoTheTotalStaysWithin511Characters) {
    CommandBuffer command;
    TextSpan& text = command.text();
    text.Append(std::string(500, 'a').c_str());
    text.Append(" --restore \"");
    EXPECT_EQ(text.length(), 511u);
    EXPECT_EQ(std::strlen(command.c_str()), 511u);
    EXPECT_TRUE(text.cut());
    text.Append("more");
    EXPECT_EQ(text.length(), 511u);
    EXPECT_EQ(std::string(command.c_str()).substr(500), " --restore ");
}

TEST(CommandBuffer, OnlyAPieceThatDidNotFitWholeCountsAsCut) {
    CommandBuffer exact;
    exact.text().Append(std::string(511, 'a').c_str());
    exact.text().Append("");
    EXPECT_FALSE(exact.text().cut()) << "511 characters fit";
    char field[4] = {'f', 'f', 'f', 'f'};
    exact.text().Assign("x");
    exact.text().AppendAtMost(field, sizeof(field));
    EXPECT_FALSE(exact.text().cut()) << "a field ends at its width";
    exact.text().Assign(std::string(510, 'a').c_str());
    exact.text().Quote();
    EXPECT_TRUE(exact.text().cut()) << "its closing quotation mark was lost";
}

TEST(CommandBuffer, FieldsWithoutTerminatorAreReadOnlyWithinTheirWidth) {
    char field[8];
    std::memset(field, 'f', sizeof(field));
    char storage[32] = {};
    TextSpan text(storage, 31);
    text.AppendAtMost(field, sizeof(field));
    text.Append("|");
    EXPECT_STREQ(storage, "ffffffff|");
}

TEST(CommandBuffer, RestSharesTheBytesAndTheRemainingRoom) {
    char storage[16] = {};
    TextSpan text(storage, 15);
    text.Append("client ");
    TextSpan rest = text.Rest();
    EXPECT_EQ(rest.limit(), 8u);
    rest.Append("0123456789");
    text.Refresh();
    EXPECT_STREQ(storage, "client 01234567");
    EXPECT_TRUE(rest.cut());
    rest.Assign("x");
    text.Refresh();
    EXPECT_STREQ(storage, "client x");
}

}  // namespace
}  // namespace dlmgr
