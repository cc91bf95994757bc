#include "im_param.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

_MSG_ST Fresh(uint32_t count)
{
    _MSG_ST msg{};
    im_msg_start(&msg, 11, count, "imThrNop");
    return msg;
}

TEST(MsgParam, ScalarsSitInTheFirstBytesOfTheirSlot)
{
    _MSG_ST msg = Fresh(5);
    im_msg_put_char(&msg, 0, -5);
    im_msg_put_short(&msg, 1, -1234);
    im_msg_put_long(&msg, 2, 0x12345678);
    im_msg_put_double(&msg, 3, 2.5e10);
    im_msg_put_float(&msg, 4, 1.5f);
    EXPECT_EQ(static_cast<int8_t>(msg.body.param[0][0]), -5);
    uint32_t word;
    std::memcpy(&word, msg.body.param[2], 4);
    EXPECT_EQ(word, 0x12345678u);
    double widened;
    std::memcpy(&widened, msg.body.param[4], 8);
    EXPECT_EQ(widened, 1.5);
    EXPECT_EQ(im_msg_get_char(&msg, 0), -5);
    EXPECT_EQ(im_msg_get_short(&msg, 1), -1234);
    EXPECT_EQ(im_msg_get_long(&msg, 2), 0x12345678);
    EXPECT_EQ(im_msg_get_double(&msg, 3), 2.5e10);
    EXPECT_EQ(im_msg_get_float(&msg, 4), 1.5f);
}

TEST(MsgParam, MessagesWithAnErrorAreLeftAloneAndReadAsZero)
{
    _MSG_ST msg = Fresh(1);
    im_msg_put_long(&msg, 0, 77);
    im_msg_log_error(&msg, -9, "x");
    im_msg_put_long(&msg, 0, 99);
    im_msg_put_string(&msg, 1, "abc");
    EXPECT_EQ(msg.body.param[1][0], 0);
    EXPECT_EQ(im_msg_get_long(&msg, 0), 0);
    EXPECT_EQ(im_msg_get_double(&msg, 0), 0.0);
    int32_t raw;
    std::memcpy(&raw, msg.body.param[0], 4);
    EXPECT_EQ(raw, 77);
}

TEST(MsgParam, SlotsOutsideTheFifteenAreIgnored)
{
    _MSG_ST msg = Fresh(1);
    std::memset(msg.tail, 0x5A, sizeof msg.tail);
    im_msg_put_double(&msg, 15, 1.0);
    im_msg_put_string(&msg, 20, "overflow");
    EXPECT_EQ(im_msg_put_array(&msg, 15, "12345678", 8), 0u);
    EXPECT_EQ(msg.tail[0], 0x5A);
    EXPECT_EQ(im_msg_get_long(&msg, 15), 0);
    char buffer[8] = "zzz";
    EXPECT_EQ(im_msg_get_string(&msg, 16, buffer, sizeof buffer), 0u);
    EXPECT_EQ(buffer[0], 0);
    EXPECT_EQ(im_msg_get_array(&msg, 15, buffer, 8), 0u);
}

TEST(MsgParam, StringsRunOnAndGrowTheCount)
{
    _MSG_ST msg = Fresh(2);
    std::memset(msg.body.param, 0x77, sizeof msg.body.param);
    im_msg_put_string(&msg, 1, "abcdefghij");   // 11 bytes with the zero: slots 1 and 2
    EXPECT_EQ(msg.body.counts & 0xFFFF, 3u);
    EXPECT_STREQ(reinterpret_cast<const char*>(msg.body.param[1]), "abcdefghij");
    for (int i = 3; i < 8; ++i) EXPECT_EQ(msg.body.param[2][i], 0) << i;   // padded
    EXPECT_EQ(msg.body.param[3][0], 0x77);                                  // next slot untouched
    char buffer[32];
    EXPECT_EQ(im_msg_get_string(&msg, 1, buffer, sizeof buffer), 11u);
    EXPECT_STREQ(buffer, "abcdefghij");
}

TEST(MsgParam, LongStringsAreCutSoTheLastByteOfSlot14IsZero)
{
    _MSG_ST msg = Fresh(1);
    std::memset(msg.body.param, 0x77, sizeof msg.body.param);
    const std::string text(300, 'q');
    im_msg_put_string(&msg, 2, text.c_str());
    EXPECT_EQ(msg.body.param[14][7], 0);
    EXPECT_EQ(msg.body.param[14][6], 'q');
    EXPECT_EQ(msg.body.counts & 0xFFFF, 1u + (119u - 16u) / 8u);
    char buffer[200];
    EXPECT_EQ(im_msg_get_string(&msg, 2, buffer, sizeof buffer), 104u);
    EXPECT_EQ(std::string(buffer), std::string(103, 'q'));
}

TEST(MsgParam, GetStringCutByTheBufferStillEndsInAZero)
{
    _MSG_ST msg = Fresh(1);
    im_msg_put_string(&msg, 0, "hello world");
    char buffer[6];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(im_msg_get_string(&msg, 0, buffer, sizeof buffer), 6u);
    EXPECT_STREQ(buffer, "hello");
}

TEST(MsgParam, ArraysAreCutToTheRemainingSlots)
{
    _MSG_ST msg = Fresh(13);
    uint8_t bytes[64];
    for (int i = 0; i < 64; ++i) bytes[i] = static_cast<uint8_t>(i + 1);
    EXPECT_EQ(im_msg_put_array(&msg, 13, bytes, sizeof bytes), 2u);
    EXPECT_EQ(msg.body.counts & 0xFFFF, 15u);
    EXPECT_EQ(msg.body.param[14][7], 16);
    uint8_t back[64] = {};
    EXPECT_EQ(im_msg_get_array(&msg, 13, back, sizeof back), 16u);
    EXPECT_EQ(std::memcmp(back, bytes, 16), 0);
    EXPECT_EQ(back[16], 0);
    EXPECT_EQ(im_msg_get_array(&msg, 13, back, 3), 3u);
    _MSG_ST small = Fresh(1);
    EXPECT_EQ(im_msg_put_array(&small, 0, bytes, 12), 1u);
    EXPECT_EQ(small.body.counts & 0xFFFF, 2u);
}

}  // namespace
