#include "consolepipe.h"

#include "fakeconsole.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <fstream>
#include <regex>
#include <string>

using testing_console::ConsoleRegistry;
using testing_console::FakeConsole;
using testing_console::kFallbackOptionsKey;
using testing_console::kOptionsKey;
using testing_console::SetConsoleOption;

namespace {

int g_sleeps = 0;
void CountSleep(double seconds)
{
    EXPECT_DOUBLE_EQ(seconds, 0.25);
    ++g_sleeps;
}

class ConsolePipeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        backend_ = ConsoleRegistry();
        scoped_ = std::make_unique<qsrf::registry::ScopedProcessBackend>(backend_);
        g_sleeps = 0;
        im_set_spin_sleep(CountSleep);
    }
    void TearDown() override
    {
        im_close_pipe();
        im_set_spin_sleep(nullptr);
    }

    // Writes an executable shell script as the console program of the fake's HALCYRA.
    static void InstallProgram(const FakeConsole& console, const std::string& body)
    {
        const std::string dir = console.Dir() + "/noinstall/util/winnt";
        ASSERT_TRUE(testing_console::MakeDirs(dir));
        const std::string program = dir + "/hlccout";
        std::ofstream(program) << "#!/bin/sh\n" << body << "\n";
        chmod(program.c_str(), 0755);
    }

    std::shared_ptr<qsrf::registry::MemoryBackend> backend_;
    std::unique_ptr<qsrf::registry::ScopedProcessBackend> scoped_;
};

std::vector<std::string> Texts(const std::vector<hlccon::Record>& records, size_t from = 1)
{
    std::vector<std::string> texts;
    for (size_t i = from; i < records.size(); ++i)
        texts.push_back(records[i].Text());
    return texts;
}

// ---- connecting ----------------------------------------------------------------------------

TEST_F(ConsolePipeTest, DefaultModeSendsModeRecordZeroWithEmptyText)
{
    FakeConsole console;
    EXPECT_EQ(im_open_pipe(0), 0);
    ASSERT_TRUE(im_pipe_is_open());
    const auto records = console.WaitRecords(1);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].command, 0);
    EXPECT_EQ(records[0].Text(), "");
}

TEST_F(ConsolePipeTest, DontCloseSelectsModeTwo)
{
    SetConsoleOption(*backend_, kOptionsKey, "DontClose", 1);
    FakeConsole console;
    im_open_pipe(0);
    const auto records = console.WaitRecords(1);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].command, 2);
}

TEST_F(ConsolePipeTest, DontCloseOtherThanOneKeepsModeZero)
{
    SetConsoleOption(*backend_, kOptionsKey, "DontClose", 3);
    FakeConsole console;
    im_open_pipe(0);
    const auto records = console.WaitRecords(1);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].command, 0);
}

TEST_F(ConsolePipeTest, OptionsFallBackToSecondKey)
{
    SetConsoleOption(*backend_, kFallbackOptionsKey, "DontClose", 1);
    FakeConsole console;
    im_open_pipe(0);
    const auto records = console.WaitRecords(1);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].command, 2);
}

TEST_F(ConsolePipeTest, FirstKeyWinsOverSecond)
{
    SetConsoleOption(*backend_, kOptionsKey, "DontClose", 0);
    SetConsoleOption(*backend_, kFallbackOptionsKey, "Snooze", 1);
    FakeConsole console;
    im_open_pipe(0);
    EXPECT_TRUE(im_pipe_is_open());
}

TEST_F(ConsolePipeTest, ModeTwoAsGivenIgnoresOptions)
{
    SetConsoleOption(*backend_, kOptionsKey, "Snooze", 1);
    FakeConsole console;
    im_open_pipe(2);
    ASSERT_TRUE(im_pipe_is_open());
    const auto records = console.WaitRecords(1);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].command, 2);
}

TEST_F(ConsolePipeTest, ModeMinusOneLeavesConsoleOff)
{
    FakeConsole console;
    EXPECT_EQ(im_open_pipe(-1), 0);
    EXPECT_FALSE(im_pipe_is_open());
    EXPECT_EQ(im_print_msg(0, "hello\n"), 0);
    EXPECT_EQ(console.Connections(), 0);
}

TEST_F(ConsolePipeTest, OpenTwiceConnectsOnce)
{
    FakeConsole console;
    im_open_pipe(0);
    im_open_pipe(2);
    console.WaitRecords(1);
    EXPECT_EQ(console.Records().size(), 1u);
    EXPECT_EQ(console.Connections(), 1);
}

TEST_F(ConsolePipeTest, CloseTurnsConsoleOff)
{
    FakeConsole console;
    im_open_pipe(0);
    im_close_pipe();
    EXPECT_FALSE(im_pipe_is_open());
    EXPECT_EQ(im_print_msg(0, "x"), 0);
}

// ---- snooze --------------------------------------------------------------------------------

TEST_F(ConsolePipeTest, SnoozeKeepsConsoleSilent)
{
    SetConsoleOption(*backend_, kOptionsKey, "Snooze", 1);
    FakeConsole console;
    console.SetAbortAnswer("Abort");
    im_open_pipe(0);
    EXPECT_FALSE(im_pipe_is_open());
    EXPECT_EQ(im_print_msg(0, "%s\n", "nothing"), 0);
    EXPECT_EQ(im_print_msg(1, "prompt\n"), 0);
    int32_t counter = 0;
    for (int round = 0; round < 45; ++round)
        ASSERT_EQ(im_spin_while(&counter, 1), 1) << "round " << round;
    int32_t spinner = 1;
    im_spin_prompt(&spinner);
    EXPECT_EQ(spinner, 1);
    EXPECT_EQ(console.Connections(), 0);
    EXPECT_TRUE(console.Records().empty());
}

// ---- giving up -----------------------------------------------------------------------------

TEST_F(ConsolePipeTest, MissingProgramLeavesConsoleOff)
{
    FakeConsole console(false);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(im_open_pipe(0), 0);
    EXPECT_FALSE(im_pipe_is_open());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
}

TEST_F(ConsolePipeTest, ProgramThatEndsWithoutServingLeavesConsoleOff)
{
    FakeConsole console(false);
    InstallProgram(console, "exit 0");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(im_open_pipe(0), 0);
    EXPECT_FALSE(im_pipe_is_open());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

TEST_F(ConsolePipeTest, ProgramThatNeverServesIsGivenUpOnAfterTheLimit)
{
    FakeConsole console(false);
    InstallProgram(console, "exec sleep 3 >/dev/null 2>&1");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(im_open_pipe(0), 0);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_FALSE(im_pipe_is_open());
    EXPECT_GE(elapsed, std::chrono::duration<double>(kConsoleConnectLimit * 0.99));
    EXPECT_LT(elapsed, std::chrono::seconds(10));
    EXPECT_EQ(im_print_msg(0, "lost\n"), 0);
}

TEST_F(ConsolePipeTest, StartedProgramIsConnectedOnceItServes)
{
    // No pipe yet: the library starts the program and retries until the pipe appears.
    FakeConsole console(true, 150);
    InstallProgram(console, "exec sleep 1 >/dev/null 2>&1");
    im_open_pipe(0);
    EXPECT_TRUE(im_pipe_is_open());
    EXPECT_EQ(console.WaitRecords(1).size(), 1u);
}

// ---- text records --------------------------------------------------------------------------

TEST_F(ConsolePipeTest, TwoHundredCharactersGoOutAs79And79And42)
{
    FakeConsole console;
    im_open_pipe(0);
    const std::string text(200, 'q');
    EXPECT_EQ(im_print_msg(0, "%s", text.c_str()), 200);
    const auto records = console.WaitRecords(4);
    ASSERT_EQ(records.size(), 4u);
    for (size_t i = 1; i < 4; ++i)
        EXPECT_EQ(records[i].command, 0);
    EXPECT_EQ(records[1].Text(), std::string(79, 'q'));
    EXPECT_EQ(records[2].Text(), std::string(79, 'q'));
    EXPECT_EQ(records[3].Text(), std::string(42, 'q'));
    EXPECT_EQ(records[1].text[79], '\0');
}

TEST_F(ConsolePipeTest, ShortLineIsOneRecordWithItsLineFeed)
{
    FakeConsole console;
    im_open_pipe(0);
    EXPECT_EQ(im_print_msg(0, "abcd\n"), 5);
    const auto records = console.Records();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[1].command, 0);
    EXPECT_EQ(records[1].Text(), "abcd\n");
}

TEST_F(ConsolePipeTest, LineFeedsEndRecords)
{
    FakeConsole console;
    im_open_pipe(0);
    EXPECT_EQ(im_print_msg(0, "ab\n\ncd%d", 7), 7);
    EXPECT_EQ(Texts(console.Records()), (std::vector<std::string>{"ab\n", "\n", "cd7"}));
}

TEST_F(ConsolePipeTest, SeventyNineCharactersAndLineFeedFillOneRecord)
{
    FakeConsole console;
    im_open_pipe(0);
    const std::string line = std::string(79, 'z') + "\n";
    EXPECT_EQ(im_print_msg(0, "%s%s", line.c_str(), "end"), 83);
    const auto records = console.Records();
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[1].Text(), line);   // all 80 bytes, no terminator
    EXPECT_EQ(records[2].Text(), "end");
}

TEST_F(ConsolePipeTest, TextLongerThanFormattingBufferIsSentWhole)
{
    FakeConsole console;
    im_open_pipe(0);
    std::string expected;
    for (int i = 0; i < 100; ++i)
        expected += "line " + std::to_string(i) + " of a long message\n";
    EXPECT_EQ(im_print_msg(0, "%s", expected.c_str()), static_cast<int>(expected.size()));
    std::string received;
    for (const std::string& t : Texts(console.WaitRecords(101)))
        received += t;
    EXPECT_EQ(received, expected);
}

TEST_F(ConsolePipeTest, EmptyTextSendsNothing)
{
    FakeConsole console;
    im_open_pipe(0);
    EXPECT_EQ(im_print_msg(0, "%s", ""), 0);
    EXPECT_EQ(console.Records().size(), 1u);
}

TEST_F(ConsolePipeTest, PromptSendsTextThenWaitsForAnswer)
{
    FakeConsole console;
    im_open_pipe(0);
    EXPECT_EQ(im_print_msg(1, "Press a key\n"), 12);
    EXPECT_EQ(console.Answered(), 1);   // the call returned after the answer
    const auto records = console.Records();
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[1].command, 0);
    EXPECT_EQ(records[1].Text(), "Press a key\n");
    EXPECT_EQ(records[2].command, 3);
    EXPECT_EQ(records[2].Text(), "");
}

// ---- waits ---------------------------------------------------------------------------------

TEST_F(ConsolePipeTest, SpinWhileWarnsOnFirstRoundAndAsksWithStartTime)
{
    FakeConsole console;
    im_open_pipe(0);
    int32_t counter = 0;
    EXPECT_EQ(im_spin_while(&counter, 1), 1);
    EXPECT_EQ(counter, 1);
    EXPECT_EQ(g_sleeps, 1);
    const auto records = console.WaitRecords(3);
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[1].command, 0);
    EXPECT_EQ(records[1].Text(), "WARNING: Host is waiting for a local resource.\n");
    EXPECT_EQ(records[2].command, 5);
    EXPECT_TRUE(std::regex_match(records[2].Text(),
                                 std::regex("[A-Z][a-z]{2} [A-Z][a-z]{2} [ 0-9][0-9] "
                                            "[0-9]{2}:[0-9]{2}:[0-9]{2} [0-9]{4}\n")))
        << records[2].Text();
}

TEST_F(ConsolePipeTest, SpinWhileAsksEveryTwentiethRoundWithZ)
{
    FakeConsole console;
    im_open_pipe(0);
    int32_t counter = 0;
    std::vector<int32_t> counters;
    for (int round = 0; round < 41; ++round) {
        ASSERT_EQ(im_spin_while(&counter, 1), 1);
        counters.push_back(counter);
    }
    EXPECT_EQ(counters[0], 1);
    EXPECT_EQ(counters[19], 20);
    EXPECT_EQ(counters[20], 1);
    EXPECT_EQ(counters[40], 1);
    EXPECT_EQ(g_sleeps, 41);
    const auto records = console.Records();
    std::vector<std::string> questions;
    int warnings = 0;
    for (size_t i = 1; i < records.size(); ++i) {
        if (records[i].command == 5)
            questions.push_back(records[i].Text());
        else
            ++warnings;
    }
    EXPECT_EQ(warnings, 1);
    ASSERT_EQ(questions.size(), 3u);
    EXPECT_NE(questions[0], "z");
    EXPECT_EQ(questions[1], "z");
    EXPECT_EQ(questions[2], "z");
}

TEST_F(ConsolePipeTest, AbortAnswerAbortsAndIsReportedOnceMore)
{
    FakeConsole console;
    console.SetAbortAnswer("Abort");
    im_open_pipe(0);
    int32_t counter = 0;
    EXPECT_EQ(im_spin_while(&counter, 1), -1);
    EXPECT_EQ(counter, -1);
    EXPECT_EQ(g_sleeps, 0);
    EXPECT_EQ(im_spin_while(&counter, 1), -1);
    EXPECT_EQ(counter, 0);
}

TEST_F(ConsolePipeTest, AnswerOtherThanAbortContinues)
{
    FakeConsole console;
    console.SetAbortAnswer("Abortion");
    im_open_pipe(0);
    int32_t counter = 0;
    EXPECT_EQ(im_spin_while(&counter, 1), 1);
}

TEST_F(ConsolePipeTest, EndedWaitResetsCounter)
{
    int32_t counter = 7;
    EXPECT_EQ(im_spin_while(&counter, 0), 0);
    EXPECT_EQ(counter, 0);
    counter = -1;
    EXPECT_EQ(im_spin_while(&counter, 0), 0);
    EXPECT_EQ(counter, 0);
    EXPECT_EQ(g_sleeps, 0);
}

TEST_F(ConsolePipeTest, WaitWithoutConsoleGoesOn)
{
    int32_t counter = 0;
    for (int round = 0; round < 21; ++round)
        ASSERT_EQ(im_spin_while(&counter, 1), 1);
    EXPECT_EQ(counter, 1);
    EXPECT_EQ(g_sleeps, 21);
}

TEST_F(ConsolePipeTest, SpinnerSequence)
{
    FakeConsole console;
    im_open_pipe(0);
    int32_t state = 1;
    std::vector<int32_t> states;
    for (int i = 0; i < 6; ++i) {
        im_spin_prompt(&state);
        states.push_back(state);
    }
    EXPECT_EQ(states, (std::vector<int32_t>{92, 45, 47, 124, 92, 45}));
    state = 0;
    im_spin_prompt(&state);
    EXPECT_EQ(state, 0);
    state = 7;
    im_spin_prompt(&state);
    EXPECT_EQ(state, 7);
    EXPECT_EQ(Texts(console.Records()),
              (std::vector<std::string>{"\\", "\b-", "\b/", "\b|", "\b\\", "\b-", "\b"}));
}

}  // namespace
