// The owner-thread queue: posting order, owner-only dispatch, nested dispatch, and
// payloads that are never leaked or handled twice (the sanitizers watch the heap).
#include "platform/owner_queue.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace qm::platform {
namespace {

struct Log {
    std::vector<std::string> items;
    void Add(const std::string& s) { items.push_back(s); }
};

TEST(OwnerQueue, OneOrderAcrossTheQueuesOfAThread) {
    Log log;
    auto record = [&](const char* name) {
        return [&log, name](uint32_t msg, uintptr_t w, void*) {
            log.Add(std::string(name) + ":" + std::to_string(msg) + "/" + std::to_string(w));
        };
    };
    OwnerQueue a(record("a"), nullptr);
    OwnerQueue b(record("b"), nullptr);
    ASSERT_TRUE(a.Valid());
    ASSERT_TRUE(a.Post(kPumpMessage, 1, nullptr));
    ASSERT_TRUE(b.Post(kSackMessage, 2, nullptr));
    ASSERT_TRUE(a.Post(kSackMessage, 3, nullptr));
    EXPECT_TRUE(log.items.empty()) << "nothing runs until the owner dispatches";
    PumpMessages();
    EXPECT_EQ(log.items, (std::vector<std::string>{"a:1025/1", "b:1026/2", "a:1026/3"}));
    PumpMessages();  // idle: nothing more
    EXPECT_EQ(log.items.size(), 3u);
}

TEST(OwnerQueue, PostsFromOtherThreadsRunOnTheOwnerInEachThreadsOrder) {
    constexpr int kThreads = 4, kEach = 500;
    const auto owner = std::this_thread::get_id();
    std::vector<int> lastSeen(kThreads, -1);
    int received = 0;
    bool orderKept = true, onOwner = true;
    OwnerQueue q(
        [&](uint32_t, uintptr_t w, void* payload) {
            std::unique_ptr<int> seq(static_cast<int*>(payload));  // the handler takes the payload
            onOwner = onOwner && std::this_thread::get_id() == owner;
            orderKept = orderKept && *seq == lastSeen[w] + 1;
            lastSeen[w] = *seq;
            ++received;
        },
        [](uint32_t, uintptr_t, void* p) { delete static_cast<int*>(p); });
    std::vector<std::thread> posters;
    for (int t = 0; t < kThreads; ++t) {
        posters.emplace_back([&q, t] {
            for (int i = 0; i < kEach; ++i) {
                auto* p = new int(i);
                if (!q.Post(kSackMessage, static_cast<uintptr_t>(t), p)) delete p;
            }
        });
    }
    for (auto& th : posters) th.join();
    EXPECT_TRUE(RunMessagesUntil([&] { return received == kThreads * kEach; }, 5000)) << received;
    EXPECT_TRUE(orderKept);
    EXPECT_TRUE(onOwner);
}

TEST(OwnerQueue, NestedPumpDispatchesTheMessagesThatFollow) {
    Log log;
    OwnerQueue q(
        [&](uint32_t, uintptr_t w, void*) {
            log.Add("begin " + std::to_string(w));
            if (w == 1) PumpMessages();  // as the big-integer code does once per exponent bit
            log.Add("end " + std::to_string(w));
        },
        nullptr);
    for (uintptr_t w = 1; w <= 3; ++w) ASSERT_TRUE(q.Post(kSackMessage, w, nullptr));
    PumpMessages();
    EXPECT_EQ(log.items,
              (std::vector<std::string>{"begin 1", "begin 2", "end 2", "begin 3", "end 3", "end 1"}));
}

TEST(OwnerQueue, DestroyingAQueueFreesItsUndispatchedPayloadsOnly) {
    std::vector<std::pair<uint32_t, int>> freed;
    int handledByB = 0;
    auto deleter = [&](uint32_t msg, uintptr_t, void* p) {
        std::unique_ptr<int> owned(static_cast<int*>(p));
        freed.emplace_back(msg, *owned);
    };
    auto a = std::make_unique<OwnerQueue>([](uint32_t, uintptr_t, void*) { FAIL() << "a never dispatches"; },
                                          deleter);
    OwnerQueue b(
        [&](uint32_t, uintptr_t, void* p) {
            delete static_cast<int*>(p);
            ++handledByB;
        },
        deleter);
    ASSERT_TRUE(a->Post(kSackMessage, 0, new int(1)));
    ASSERT_TRUE(b.Post(kSackMessage, 0, new int(2)));
    ASSERT_TRUE(a->Post(kPumpMessage, 0, new int(3)));
    a.reset();
    EXPECT_EQ(freed, (std::vector<std::pair<uint32_t, int>>{{kSackMessage, 1}, {kPumpMessage, 3}}));
    PumpMessages();
    EXPECT_EQ(handledByB, 1);
    EXPECT_EQ(freed.size(), 2u) << "b's message went to its handler, not the deleter";
}

TEST(OwnerQueue, HandlerMayDestroyItsOwnQueue) {
    int freed = 0, handled = 0;
    std::unique_ptr<OwnerQueue> q;
    q = std::make_unique<OwnerQueue>(
        [&](uint32_t, uintptr_t, void* p) {
            delete static_cast<int*>(p);
            ++handled;
            q.reset();  // the rest of its queue is discarded through the deleter
        },
        [&](uint32_t, uintptr_t, void* p) {
            delete static_cast<int*>(p);
            ++freed;
        });
    ASSERT_TRUE(q->Post(kSackMessage, 0, new int(1)));
    ASSERT_TRUE(q->Post(kSackMessage, 0, new int(2)));
    ASSERT_TRUE(q->Post(kSackMessage, 0, new int(3)));
    PumpMessages();
    EXPECT_EQ(handled, 1);
    EXPECT_EQ(freed, 2);
    EXPECT_EQ(q, nullptr);
}

TEST(OwnerQueue, OnlyApplicationMessageNumbersArePosted) {
    OwnerQueue q([](uint32_t, uintptr_t, void*) {}, nullptr);
    for (uint32_t msg : {0u, 1u, 0x3FFu, 0x8000u, 0xC000u, 0xFFFFFFFFu})
        EXPECT_FALSE(q.Post(msg, 0, nullptr)) << msg;
    EXPECT_TRUE(q.Post(kFirstMessage, 0, nullptr));
    EXPECT_TRUE(q.Post(kLastMessage, 0, nullptr));
    PumpMessages();
}

TEST(OwnerQueue, RunMessagesUntilIsBounded) {
    int handled = 0;
    OwnerQueue q([&](uint32_t, uintptr_t, void*) { ++handled; }, nullptr);
    std::thread late([&q] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        q.Post(kPumpMessage, 0, nullptr);
    });
    EXPECT_TRUE(RunMessagesUntil([&] { return handled == 1; }, 5000));
    late.join();
    // A condition that never comes true returns after the time-out.
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(RunMessagesUntil([] { return false; }, 50));
    auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, std::chrono::milliseconds(45));
    EXPECT_LT(took, std::chrono::milliseconds(2000));
}

}  // namespace
}  // namespace qm::platform
