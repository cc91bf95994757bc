// The error hook, its message box and its chaining; exceptions escaping commands.

#include "main_fixture.h"

#include "Apperror.h"

#include <QEvent>
#include <QThread>

#include <chrono>
#include <future>
#include <thread>

namespace {

struct HookCall {
    OrbInt hookType;
    OrbId errorId;
    void* user;
    std::thread::id thread;
    size_t boxesBefore;   // boxes recorded when the hook ran
};

std::mutex hookMutex;
std::vector<HookCall> hookCalls;
TScriptedDialogs* hookDialogs = nullptr;

OrbInt RecordingHook(OrbInt hookType, OrbId errorId, void* user)
{
    std::lock_guard<std::mutex> lock(hookMutex);
    hookCalls.push_back({hookType, errorId, user, std::this_thread::get_id(),
                         hookDialogs ? hookDialogs->Boxes().size() : 0});
    return 0;
}

class ErrorHookTest : public FrameTest {
protected:
    void SetUp() override
    {
        FrameTest::SetUp();
        std::lock_guard<std::mutex> lock(hookMutex);
        hookCalls.clear();
        hookDialogs = &dialogs;
    }
    void TearDown() override
    {
        hookDialogs = nullptr;
        FrameTest::TearDown();
    }

    static std::vector<HookCall> Calls()
    {
        std::lock_guard<std::mutex> lock(hookMutex);
        return hookCalls;
    }

    // The text the box must show for the library's last error.
    static QString ExpectedText()
    {
        const auto e = orbsim::lastError();
        QString text = QString::fromStdString(e->function) + "\n" + QString::fromStdString(e->message);
        for (const std::string& s : e->subMessages)
            text += "\n" + QString::fromStdString(s);
        return text;
    }
};

// An object whose event handler throws, as a command's handler may.
class ThrowingObject : public QObject {
public:
    bool event(QEvent* e) override
    {
        if (e->type() == QEvent::User)
            throw EAppError("Cannot do that");
        return QObject::event(e);
    }
};

}  // namespace

TEST(LibraryErrorText, FunctionAndMessageOnTwoLines)
{
    EXPECT_EQ(LibraryErrorText("orbBufFree", "Invalid buffer id", {}), "orbBufFree\nInvalid buffer id");
}

TEST(LibraryErrorText, SubMessagesFollowInOrder)
{
    EXPECT_EQ(LibraryErrorText("f", "m", {"one"}), "f\nm\none");
    EXPECT_EQ(LibraryErrorText("f", "m", {"one", "two", "three"}), "f\nm\none\ntwo\nthree");
}

TEST_F(ErrorHookTest, ErrorWithoutSubMessagesShowsExactlyTwoLines)
{
    StartWithBoard(btSorvik);
    MainForm->OpenImaging();
    orbAppInquire(ORB_INQ_ERROR_HOOK, nullptr);   // fails without sub-messages
    ASSERT_TRUE(orbsim::lastError());
    ASSERT_TRUE(orbsim::lastError()->subMessages.empty());
    const auto boxes = dialogs.Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].Text, "orbAppInquire\n" + QString::fromStdString(orbsim::lastError()->message));
    EXPECT_EQ(boxes[0].Text.split('\n').size(), 2);
    EXPECT_EQ(boxes[0].Flags & MB_BUTTONMASK, MB_OK);
    EXPECT_TRUE(boxes[0].OnGuiThread);
}

TEST_F(ErrorHookTest, SubMessagesAreShownOnePerLineInOrder)
{
    StartWithBoard(btSorvik);
    MainForm->OpenImaging();
    OrbId id = 0;
    orbBufAlloc2d(MainForm->SystemId, 10, 10, 0 /* no such depth */, 4, &id);
    ASSERT_EQ(orbsim::lastError()->subMessages.size(), 2u);
    const auto boxes = dialogs.Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].Text, ExpectedText());
    const QStringList lines = boxes[0].Text.split('\n');
    ASSERT_EQ(lines.size(), 4);
    EXPECT_EQ(lines[0], "orbBufAlloc2d");
    EXPECT_EQ(lines[2].toStdString(), orbsim::lastError()->subMessages[0]);
    EXPECT_EQ(lines[3].toStdString(), orbsim::lastError()->subMessages[1]);
}

TEST_F(ErrorHookTest, PreviousHookIsCalledWithItsUserPointerAfterTheBox)
{
    StartWithBoard(btSorvik);
    int marker = 0;
    orbAppSetErrorHook(ORB_ERROR_HOOK, &RecordingHook, &marker);
    MainForm->OpenImaging();
    EXPECT_EQ(MainForm->PrevErrorHook, &RecordingHook);
    EXPECT_EQ(MainForm->PrevErrorHookUser, &marker);

    orbBufFree(0x777);
    const auto calls = Calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].user, &marker);
    EXPECT_EQ(calls[0].errorId, orbsim::lastError()->id);
    EXPECT_EQ(calls[0].hookType, ORB_ERROR_HOOK);
    EXPECT_EQ(calls[0].boxesBefore, 1u);   // the box came first
    EXPECT_EQ(dialogs.Boxes().size(), 1u);
}

TEST_F(ErrorHookTest, WithoutAPreviousHookOnlyTheBoxIsShown)
{
    StartWithBoard(btSorvik);
    MainForm->OpenImaging();
    EXPECT_EQ(MainForm->PrevErrorHook, nullptr);
    orbBufFree(0x777);
    EXPECT_EQ(dialogs.Boxes().size(), 1u);
    EXPECT_TRUE(Calls().empty());
}

TEST_F(ErrorHookTest, OwnHookLeftInstalledIsNotChainedToItself)
{
    StartWithBoard(btSorvik);
    orbAppSetErrorHook(ORB_ERROR_HOOK, &DisplayErrorExt, MainForm);
    MainForm->OpenImaging();
    EXPECT_EQ(MainForm->PrevErrorHook, nullptr);
    orbBufFree(0x777);
    EXPECT_EQ(dialogs.Boxes().size(), 1u);
}

TEST_F(ErrorHookTest, ErrorOnAWorkerThreadIsShownOnTheGuiThread)
{
    StartWithBoard(btSorvik);
    int marker = 0;
    orbAppSetErrorHook(ORB_ERROR_HOOK, &RecordingHook, &marker);
    MainForm->OpenImaging();

    std::thread::id workerId;
    auto done = std::async(std::launch::async, [&] {
        workerId = std::this_thread::get_id();
        orbBufFree(0x777);
    });
    // The worker does not wait for the GUI thread, which is not processing events now.
    ASSERT_EQ(done.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    done.get();

    const auto calls = Calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].thread, workerId);
    EXPECT_EQ(calls[0].user, &marker);
    EXPECT_TRUE(dialogs.Boxes().empty());   // not opened on the worker

    QCoreApplication::processEvents();
    const auto boxes = dialogs.Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(boxes[0].OnGuiThread);
    EXPECT_EQ(boxes[0].Text, ExpectedText());
}

TEST_F(ErrorHookTest, HookAfterTheMainWindowIsGoneDoesNothing)
{
    EXPECT_EQ(MainForm, nullptr);
    EXPECT_EQ(DisplayErrorExt(ORB_ERROR_HOOK, 1, nullptr), 0);
    EXPECT_TRUE(dialogs.Boxes().empty());
}

// ---- exceptions ---------------------------------------------------------------------------

TEST_F(ErrorHookTest, ExceptionFromAnActionIsShownAndTheProgramGoesOn)
{
    StartWithBoard(btSorvik);
    int runs = 0;
    TAction* a = MainForm->MainFormActionList->Add("Test", "Fail", QKeySequence(), [&] {
        ++runs;
        throw EAppError("Cannot do that");
    });
    a->Execute();
    a->Execute();
    EXPECT_EQ(runs, 2);
    const auto boxes = dialogs.Boxes();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].Text, "Cannot do that.");
    EXPECT_EQ(boxes[0].Caption, "Vistrel 2.0");
    EXPECT_EQ(boxes[0].Flags & MB_ICONMASK, MB_ICONERROR);
}

TEST_F(ErrorHookTest, MessageEndingInPunctuationGetsNoFullStop)
{
    StartWithBoard(btSorvik);
    MainForm->OpenImaging();
    orbsim::failNextAlloc(orbsim::AllocKind::Buffer);
    TAction* a = MainForm->MainFormActionList->Add("Test", "New", QKeySequence(),
                                                   [] { MainForm->NewImageWindow("Buffer 0", 16, 16); });
    a->Execute();
    const auto boxes = dialogs.Boxes();
    ASSERT_EQ(boxes.size(), 2u);   // the library's error, then the exception
    EXPECT_TRUE(boxes[0].Text.startsWith("orbBufAlloc2d\n"));
    EXPECT_EQ(boxes[1].Text, "No memory to create more buffers!");
    EXPECT_TRUE(Children().empty());
}

TEST_F(ErrorHookTest, ExceptionFromAnEventHandlerIsShown)
{
    ThrowingObject o;
    QEvent e(QEvent::User);
    QCoreApplication::sendEvent(&o, &e);
    const auto boxes = dialogs.Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].Text, "Cannot do that.");
}

int main(int argc, char** argv) { return RunGuiTests(argc, argv); }
