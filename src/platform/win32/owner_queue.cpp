// Windows owner-thread queue: a hidden message-only window per OwnerQueue, posted
// to with PostMessageA and dispatched by the thread's message loop (the host's, or
// PumpMessages). See owner_queue.h for the contract.
#include "platform/owner_queue.h"

#include <windows.h>

#include <algorithm>
#include <mutex>

namespace qm::platform {

struct OwnerQueue::State : std::enable_shared_from_this<OwnerQueue::State> {
    MessageHandler handler;
    PayloadDeleter deleter;
    HWND window = nullptr;
    DWORD ownerThread = 0;
    bool alive = true;  // owner thread only
};

namespace {

constexpr char kClassName[] = "qmOwnerQueueWindow";

std::mutex g_classMutex;
int g_liveWindows = 0;  // guarded by g_classMutex
HMODULE g_classModule = nullptr;

LRESULT CALLBACK QueueWindowProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
    if (msg >= kFirstMessage && msg <= kLastMessage) {
        auto* raw = reinterpret_cast<OwnerQueue::State*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
        if (raw && raw->alive) {
            // Keep the state (and so the handler) alive even if the handler destroys
            // its own OwnerQueue.
            std::shared_ptr<OwnerQueue::State> state = raw->shared_from_this();
            if (state->handler)
                state->handler(msg, static_cast<uintptr_t>(wparam), reinterpret_cast<void*>(lparam));
            return 0;
        }
    }
    return DefWindowProcA(hwnd, msg, wparam, lparam);
}

// The module that holds this code (the DLL when we are one), so the window class
// belongs to it and goes when the last window of it goes.
HMODULE ThisModule() {
    HMODULE module = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCSTR>(&QueueWindowProc), &module);
    return module;
}

HWND CreateQueueWindow() {
    std::lock_guard<std::mutex> lock(g_classMutex);
    if (g_liveWindows == 0) {
        g_classModule = ThisModule();
        WNDCLASSA wc{};
        wc.lpfnWndProc = QueueWindowProc;
        wc.hInstance = g_classModule;
        wc.lpszClassName = kClassName;
        if (!RegisterClassA(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return nullptr;
    }
    // A message-only window: never visible, no broadcasts, but a full window
    // procedure and message queue entry like any other.
    HWND hwnd =
        CreateWindowExA(0, kClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, g_classModule, nullptr);
    if (hwnd) {
        ++g_liveWindows;
    } else if (g_liveWindows == 0) {
        UnregisterClassA(kClassName, g_classModule);
    }
    return hwnd;
}

void DestroyQueueWindow(HWND hwnd) {
    DestroyWindow(hwnd);
    std::lock_guard<std::mutex> lock(g_classMutex);
    if (--g_liveWindows == 0) UnregisterClassA(kClassName, g_classModule);
}

}  // namespace

OwnerQueue::OwnerQueue(MessageHandler handler, PayloadDeleter deleter) : state_(std::make_shared<State>()) {
    state_->handler = std::move(handler);
    state_->deleter = std::move(deleter);
    state_->ownerThread = GetCurrentThreadId();
    state_->window = CreateQueueWindow();
    if (state_->window)
        SetWindowLongPtrA(state_->window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(state_.get()));
}

OwnerQueue::~OwnerQueue() {
    if (!state_->window) return;
    state_->alive = false;
    // Destroying a window leaves its posted messages in the thread's queue, where
    // their payloads would be lost: take them out first and hand them to the deleter.
    MSG m;
    while (PeekMessageA(&m, state_->window, kFirstMessage, kLastMessage, PM_REMOVE)) {
        if (state_->deleter)
            state_->deleter(m.message, static_cast<uintptr_t>(m.wParam), reinterpret_cast<void*>(m.lParam));
    }
    SetWindowLongPtrA(state_->window, GWLP_USERDATA, 0);
    DestroyQueueWindow(state_->window);
    state_->window = nullptr;
}

bool OwnerQueue::Valid() const {
    return state_->window != nullptr;
}

bool OwnerQueue::Post(uint32_t msg, uintptr_t wparam, void* payload) {
    if (msg < kFirstMessage || msg > kLastMessage || !state_->window) return false;
    return PostMessageA(state_->window, msg, static_cast<WPARAM>(wparam),
                        reinterpret_cast<LPARAM>(payload)) != 0;
}

bool OwnerQueue::IsOwnerThread() const {
    return state_->ownerThread == GetCurrentThreadId();
}

int OwnerQueue::PollFd() const {
    return -1;
}

void PumpMessages() {
    MSG m;
    while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
        if (m.message == WM_QUIT) {
            // The host's own loop must still see it, or it would never end.
            PostQuitMessage(static_cast<int>(m.wParam));
            return;
        }
        TranslateMessage(&m);
        DispatchMessageA(&m);
    }
}

bool RunMessagesUntil(const std::function<bool()>& done, uint32_t ms) {
    const DWORD start = GetTickCount();
    for (;;) {
        PumpMessages();
        if (done && done()) return true;
        const DWORD elapsed = GetTickCount() - start;
        if (elapsed >= ms) return done ? done() : false;
        // Short waits, so a condition that another thread changes is seen soon.
        const DWORD wait = std::min<DWORD>(ms - elapsed, 10);
        MsgWaitForMultipleObjectsEx(0, nullptr, wait, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    }
}

void RunMessagesFor(uint32_t ms) {
    RunMessagesUntil(nullptr, ms);
}

}  // namespace qm::platform
