#include "nuv/Nuv.Threading.h"

#include "nuv/Nuv.Exceptions.h"

#include <gtest/gtest.h>

#include <mutex>
#include <thread>
#include <vector>

TEST(CriticalSection, IsRecursiveAndExcludesOtherThreads) {
    TNuvCriticalSection section(u"TestLock");
    int64_t counter = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 20000; ++i) {
                std::lock_guard outer(section);
                std::lock_guard inner(section); // re-entry by the owner must not deadlock
                ++counter;
            }
        });
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(counter, 80000);
    EXPECT_EQ(section.Owner(), 0u);
}

TEST(CriticalSection, MisuseIsReported) {
    TNuvCriticalSection section;
    try {
        section.Leave();
        FAIL() << "leaving a free section succeeded";
    } catch (const EInvalidOperation& e) {
        EXPECT_STREQ(e.what(), "Section is not owned (0)");
    }
    section.Enter();
    std::string fromOther;
    std::thread([&] {
        try {
            section.Leave();
        } catch (const EInvalidOperation& e) {
            fromOther = e.what();
        }
        EXPECT_FALSE(section.TryEnter());
    }).join();
    EXPECT_EQ(fromOther, "Section is not owned (" + std::to_string(section.Owner()) + ")");
    section.Leave();
    EXPECT_TRUE(section.TryEnter());
    section.Leave();
}
