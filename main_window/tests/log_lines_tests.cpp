#include <gtest/gtest.h>

#include <thread>

#include "log_lines.h"

namespace {

TEST(AlertKeywords, FoundAnywhereButOnlyOnCharacterBoundaries) {
    EXPECT_TRUE(HasAlertKeyword("规则 3 执行失败"));
    EXPECT_TRUE(HasAlertKeyword("自动运行已停止运行"));  // 停止 inside a longer phrase
    EXPECT_TRUE(HasAlertKeyword("超时"));
    EXPECT_TRUE(HasAlertKeyword("急停"));
    EXPECT_FALSE(HasAlertKeyword("停车 暂停 停放"));  // 停 without 止, and not after 急
    EXPECT_FALSE(HasAlertKeyword("备份完成 & 成功"));
    EXPECT_FALSE(HasAlertKeyword(""));
    // "失败" is CA A7 B0 DC. In 81 CA | A7 B0 | DC A1 those bytes straddle three characters.
    const std::string straddling = "\x81\xCA\xA7\xB0\xDC\xA1";
    ASSERT_NE(straddling.find("失败"), std::string::npos);
    EXPECT_FALSE(HasAlertKeyword(straddling));
    EXPECT_TRUE(HasAlertKeyword("a" + std::string("失败")));  // one ASCII byte before: still a boundary
}

TEST(LogQueue, OneWakeUpPerBurstAndEveryLineInOrder) {
    LogQueue queue;
    EXPECT_TRUE(queue.Push("a"));
    EXPECT_FALSE(queue.Push("b"));  // the first wake-up is still pending
    EXPECT_EQ(queue.Take(1), std::vector<std::string>{"a"});
    EXPECT_FALSE(queue.Push("c"));  // lines remain, so the consumer is still awake
    EXPECT_EQ(queue.Take(10), (std::vector<std::string>{"b", "c"}));
    EXPECT_TRUE(queue.Push("d"));  // drained: the next line wakes the consumer again
    queue.WakeFailed();
    EXPECT_TRUE(queue.Push("e"));  // a failed wake-up is retried by the next line
    queue.Clear();
    EXPECT_TRUE(queue.Empty());
}

TEST(LogQueue, ConcurrentProducersLoseNothing) {
    LogQueue queue;
    constexpr int kPerThread = 20000;
    auto produce = [&](char tag) {
        for (int i = 0; i < kPerThread; ++i) queue.Push(tag + std::to_string(i));
    };
    std::thread a(produce, 'a'), b(produce, 'b');
    std::vector<std::string> seen;
    while (seen.size() < 2 * kPerThread) {
        for (auto& line : queue.Take(100)) seen.push_back(std::move(line));
    }
    a.join();
    b.join();
    int nextA = 0, nextB = 0;
    for (const std::string& line : seen) {
        int& next = line[0] == 'a' ? nextA : nextB;
        ASSERT_EQ(std::stoi(line.substr(1)), next) << line;  // each producer's lines stay in order
        ++next;
    }
    EXPECT_EQ(nextA, kPerThread);
    EXPECT_EQ(nextB, kPerThread);
}

}  // namespace
