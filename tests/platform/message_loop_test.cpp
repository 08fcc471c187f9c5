// The quit message and the main loop's fetch, message boxes, error texts and the desktop
// hooks.
#include "platform_fixture.h"

#include <QPointer>
#include <QTimer>

#include <cerrno>

namespace platformtest {
namespace {

using MessageLoopTest = PlatformTest;

TEST_F(MessageLoopTest, QuitPostedBeforeLoop_EndsFirstFetchWithCode) {
    PostQuitMessage(5);
    EXPECT_TRUE(QuitPosted());
    EXPECT_EQ(GetMessage(), 0);
    EXPECT_EQ(QuitCode(), 5);
    EXPECT_EQ(GetMessage(), 0);
    ClearQuit();
    EXPECT_FALSE(QuitPosted());
    EXPECT_EQ(QuitCode(), 0);
}

TEST_F(MessageLoopTest, QuitPostedByTimer_EndsLoop) {
    CurrentBehaviour() = [](HWND, unsigned m, WPARAM, LPARAM) {
        if (m == WM_TIMER && Count(WM_TIMER) == 3)
            PostQuitMessage(9);
        return true;
    };
    HWND w = Open(kForm);
    SetTimer(w, 1, 10);
    int fetches = 0;
    while (GetMessage())
        ++fetches;
    EXPECT_EQ(QuitCode(), 9);
    EXPECT_EQ(Count(WM_TIMER), 3);
    EXPECT_GT(fetches, 0);
}

TEST_F(MessageLoopTest, WindowDestroyedByOwnHandler_DeletedByLoop) {
    CurrentBehaviour() = [](HWND w, unsigned m, WPARAM wp, LPARAM) {
        if (m == WM_COMMAND && LOWORD(wp) == unsigned(kQuit))
            DestroyWindow(w);
        if (m == WM_DESTROY)
            PostQuitMessage(0);
        return true;
    };
    HWND w = OpenShown(kForm);
    QPointer<QWidget> widget = Widget(w);
    QTimer::singleShot(
        0, [w] { QTest::mouseClick(detail::LiveWidget(GetDlgItem(w, kQuit)), Qt::LeftButton); });
    while (GetMessage()) {
    }
    EXPECT_EQ(QuitCode(), 0);
    EXPECT_FALSE(IsWindow(w));
    EXPECT_TRUE(widget.isNull());
}

// ---- message boxes -----------------------------------------------------------------------------

TEST_F(MessageLoopTest, MessageBoxHook_RecordsOwnerTextCaptionAndIcon) {
    std::vector<MessageBoxRecord> boxes;
    SetMessageBoxHook([&](const MessageBoxRecord& r) {
        boxes.push_back(r);
        return IDCANCEL;
    });
    HWND w = Open(kForm);
    EXPECT_EQ(MessageBox(w, "Wrong password.", "Login Error", MB_OK | MB_ICONERROR), IDCANCEL);
    EXPECT_EQ(MessageBox(nullptr, "Error creating timer", "error", MB_OK), IDCANCEL);
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].owner, w);
    EXPECT_EQ(boxes[0].text, "Wrong password.");
    EXPECT_EQ(boxes[0].caption, "Login Error");
    EXPECT_EQ(boxes[0].flags, unsigned(MB_ICONERROR));
    EXPECT_EQ(boxes[1].owner, nullptr);
    EXPECT_EQ(boxes[1].flags, unsigned(MB_OK));
}

TEST_F(MessageLoopTest, MessageBoxWithoutHookOrDisplay_WritesToStandardError) {
    ASSERT_TRUE(Headless());
    testing::internal::CaptureStderr();
    const int answer = MessageBox(nullptr, "Lost connection", "Network Error", MB_ICONERROR);
    const std::string written = testing::internal::GetCapturedStderr();
    EXPECT_EQ(answer, IDOK);
    EXPECT_NE(written.find("Network Error: Lost connection"), std::string::npos);
}

TEST_F(MessageLoopTest, Reset_RemovesHooks) {
    int calls = 0;
    SetMessageBoxHook([&](const MessageBoxRecord&) { return ++calls; });
    SetOpenUrlHook([&](const std::string&) { return ++calls > 0; });
    ResetForTesting();
    testing::internal::CaptureStderr();
    MessageBox(nullptr, "t", "c", MB_OK);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(calls, 0);
}

// ---- errors and desktop ------------------------------------------------------------------------

TEST_F(MessageLoopTest, LastErrorText_RecordedThenErrnoThenSuccess) {
    SetLastErrorText("Access is denied.");
    EXPECT_EQ(GetLastErrorText(), "Access is denied.");
    SetLastErrorText("");
    errno = ENOENT;
    EXPECT_EQ(GetLastErrorText(), std::strerror(ENOENT));
    errno = 0;
    EXPECT_EQ(GetLastErrorText(), "The operation completed successfully.");
}

TEST_F(MessageLoopTest, OpenUrlAndGraphicsCheck_UseHooks) {
    std::string opened;
    SetOpenUrlHook([&](const std::string& url) {
        opened = url;
        return true;
    });
    EXPECT_TRUE(OpenUrl("https://example.org/pelora"));
    EXPECT_EQ(opened, "https://example.org/pelora");

    EXPECT_TRUE(GraphicsRuntimeAvailable());
    SetGraphicsCheckHook([] { return false; });
    EXPECT_FALSE(GraphicsRuntimeAvailable());
    SetGraphicsCheckHook(nullptr);
    EXPECT_TRUE(GraphicsRuntimeAvailable());
}

} // namespace
} // namespace platformtest
