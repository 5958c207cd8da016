// Windows-only behaviour of the owner queue: it is a real window served by any
// message loop, and dispatching it never swallows the host's WM_QUIT.
#include <gtest/gtest.h>
#include <windows.h>

#include "platform/owner_queue.h"

namespace qm::platform {
namespace {

HWND FindQueueWindow() {
    return FindWindowExA(HWND_MESSAGE, nullptr, "qmOwnerQueueWindow", nullptr);
}

TEST(Win32OwnerQueue, IsAHiddenWindowServedByTheHostsLoop) {
    int handled = 0;
    {
        OwnerQueue q([&](uint32_t msg, uintptr_t w, void*) { handled += (msg == kSackMessage && w == 9); },
                     nullptr);
        ASSERT_TRUE(q.Valid());
        HWND hwnd = FindQueueWindow();
        ASSERT_NE(hwnd, nullptr);
        EXPECT_FALSE(IsWindowVisible(hwnd));
        EXPECT_EQ(q.PollFd(), -1);
        ASSERT_TRUE(q.Post(kSackMessage, 9, nullptr));
        // The host's own GetMessage loop, not ours, delivers it.
        MSG m;
        ASSERT_GT(GetMessageA(&m, nullptr, 0, 0), 0);
        EXPECT_EQ(m.hwnd, hwnd);
        EXPECT_EQ(m.message, kSackMessage);
        TranslateMessage(&m);
        DispatchMessageA(&m);
        EXPECT_EQ(handled, 1);
        // Other messages get the default treatment.
        EXPECT_EQ(SendMessageA(hwnd, WM_NULL, 0, 0), 0);
    }
    EXPECT_EQ(FindQueueWindow(), nullptr) << "the window goes with its queue";
}

TEST(Win32OwnerQueue, PumpMessagesLeavesQuitForTheHost) {
    int handled = 0;
    OwnerQueue q([&](uint32_t, uintptr_t, void*) { ++handled; }, nullptr);
    ASSERT_TRUE(q.Post(kPumpMessage, 0, nullptr));
    PostQuitMessage(7);
    PumpMessages();
    EXPECT_EQ(handled, 1);
    MSG m;
    ASSERT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(m.message, static_cast<UINT>(WM_QUIT));
    EXPECT_EQ(m.wParam, 7u);
}

}  // namespace
}  // namespace qm::platform
