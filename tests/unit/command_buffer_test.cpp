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
    text.Append("more");
    EXPECT_EQ(text.length(), 511u);
    EXPECT_EQ(std::string(command.c_str()).substr(500), " --restore ");
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
    rest.Assign("x");
    text.Refresh();
    EXPECT_STREQ(storage, "client x");
}

}  // namespace
}  // namespace dlmgr
