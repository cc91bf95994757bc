#include "reqres.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

TEST(ErrorRecord, DefaultTextsByCode)
{
    EXPECT_EQ(mp_err_default(0), nullptr);
    EXPECT_STREQ(mp_err_default(-1), "Invalid buffer ID");
    EXPECT_STREQ(mp_err_default(-6), "Invalid opcode received");
    EXPECT_STREQ(mp_err_default(-10), "Invalid thread ID");
    EXPECT_STREQ(mp_err_default(-13), "Function halted by imThrHalt()");
    EXPECT_STREQ(mp_err_default(-15), "Miscellaneous error");
    EXPECT_STREQ(mp_err_default(3), "Unknown/Undefined error code");
    EXPECT_STREQ(mp_err_default(-16), "Unknown/Undefined error code");
    EXPECT_STREQ(mp_err_default(-20), "Unknown/Undefined error code");
}

TEST(ErrorRecord, FirstLogWinsAndDefaultsTheText)
{
    _MSG_ERR_ST record{};
    mp_err_log(&record, -8, nullptr, "BufAlloc");
    EXPECT_EQ(record.code, -8);
    EXPECT_STREQ(record.message, "Parameter invalid or unacceptable");
    EXPECT_STREQ(record.function, "BufAlloc");
    mp_err_log(&record, -3, "later", "Other");
    EXPECT_EQ(record.code, -8);
    EXPECT_STREQ(record.function, "BufAlloc");
    _MSG_ERR_ST noName{};
    mp_err_log(&noName, -4, "own text", nullptr);
    EXPECT_STREQ(noName.message, "own text");
    EXPECT_EQ(noName.function, nullptr);
}

TEST(ErrorRecord, CopyCutsTextsToTheirBuffers)
{
    const std::string longText(200, 'm');
    const std::string longName(50, 'f');
    _MSG_ERR_ST source{-5, 0, longName.c_str(), longText.c_str()};
    char message[80];
    char function[32];
    std::memset(message, 1, sizeof message);
    std::memset(function, 1, sizeof function);
    _MSG_ERR_ST destination{0, 7, function, message};
    mp_err_copy(&source, &destination);
    EXPECT_EQ(destination.code, -5);
    EXPECT_EQ(std::string(message), std::string(79, 'm'));
    EXPECT_EQ(std::string(function), std::string(31, 'f'));
    EXPECT_EQ(destination.node, 0u);
    // An empty source leaves the destination alone.
    _MSG_ERR_ST empty{};
    destination.code = 9;
    mp_err_copy(&empty, &destination);
    EXPECT_EQ(destination.code, 9);
}

TEST(ErrorRecord, UpdateAndAccessors)
{
    _MSG_ERR_ST source{-2, 0, "DevAlloc", "no device"};
    _MSG_ERR_ST destination{};
    mp_err_update(&source, &destination);
    EXPECT_EQ(destination.code, -2);
    EXPECT_STREQ(mp_err_msg(&destination), "no device");
    EXPECT_STREQ(mp_err_func(&destination), "DevAlloc");
    _MSG_ERR_ST clear{0, 0, "x", "y"};
    EXPECT_EQ(mp_err_msg(&clear), nullptr);
    EXPECT_EQ(mp_err_func(&clear), nullptr);
}

TEST(RequestResource, OutsideACommandServerThereIsNoResource)
{
    _MSG_BODY_ST msg{};
    EXPECT_EQ(mp_res_alloc(&msg, kResReplySize, "ThrNop"), nullptr);
    EXPECT_EQ(mp_res_ok(nullptr), 0);
    mp_res_free(nullptr);   // nothing to do, no crash
}

TEST(RequestResource, OkFailsOnceAnErrorIsLogged)
{
    _MSG_BODY_ST msg{};
    msg.replyMode = 110;
    MP_RESOURCE_ST resource{};
    resource.name = "BufClear";
    resource.msg = &msg;
    EXPECT_EQ(mp_res_ok(&resource), 1);
    _mp_res_log_error(&resource, -14, nullptr);
    _mp_res_log_error(&resource, -1, "second");
    EXPECT_EQ(resource.err.code, -14);
    EXPECT_STREQ(resource.err.message, "Unacceptable buffer attribute (size, type, etc.)");
    EXPECT_STREQ(resource.err.function, "BufClear");
    EXPECT_EQ(mp_res_ok(&resource), 0);
    // Without a thread object the error stays with the message's slot, completed.
    mp_res_free(&resource);
    EXPECT_EQ(msg.status, kMsgDone);
    EXPECT_EQ(msg.inUse, 0u);
}

TEST(RequestResource, DebugLogAddsFileBaseNameAndLine)
{
    MP_RESOURCE_ST resource{};
    resource.name = "DigGrab";
    mp_res_log_error_debug(&resource, -9, "Grab refused", "/src/host/dig/grab.cpp", 412);
    EXPECT_EQ(resource.err.code, -9);
    EXPECT_STREQ(resource.err.message, "Grab refused grab.cpp 412");

    MP_RESOURCE_ST other{};
    mp_res_log_error_debug(&other, -5, nullptr, "plain.c", 7);
    EXPECT_STREQ(other.err.message, "Referenced item not present plain.c 7");

    // A text that fills the buffer keeps neither file nor line.
    const std::string full(150, 't');
    MP_RESOURCE_ST cut{};
    mp_res_log_error_debug(&cut, -15, full.c_str(), "a/longfilename.cpp", 12345);
    EXPECT_EQ(std::string(cut.err.message), full);
}

} // namespace
