// The factory cache's publication rule and the one-time apartment join.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "ocr/factory_slot.h"

namespace quorvane::ocr {
namespace {

struct FakeFactory {
  std::atomic<int> releases{0};
  void Release() { ++releases; }
};

TEST(FactorySlot, FirstPublisherWinsAndLosersAreReleased) {
  std::atomic<FakeFactory*> slot{nullptr};
  FakeFactory first, second;
  EXPECT_EQ(publish_factory(slot, &first), &first);
  EXPECT_EQ(publish_factory(slot, &second), &first);
  EXPECT_EQ(first.releases, 0);
  EXPECT_EQ(second.releases, 1);
  EXPECT_EQ(slot.load(), &first);
}

TEST(FactorySlot, RacingPublishersAllEndUpWithOneCachedFactory) {
  constexpr int kThreads = 8;
  for (int round = 0; round < 50; ++round) {
    std::atomic<FakeFactory*> slot{nullptr};
    std::vector<FakeFactory> candidates(kThreads);
    std::vector<FakeFactory*> seen(kThreads);
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i)
      threads.emplace_back([&, i] {
        while (!go) std::this_thread::yield();
        seen[i] = publish_factory(slot, &candidates[i]);
      });
    go = true;
    for (std::thread& t : threads) t.join();
    FakeFactory* winner = slot.load();
    ASSERT_NE(winner, nullptr);
    int released = 0;
    for (int i = 0; i < kThreads; ++i) {
      EXPECT_EQ(seen[i], winner);
      released += candidates[i].releases;
      EXPECT_EQ(candidates[i].releases, &candidates[i] == winner ? 0 : 1);
    }
    EXPECT_EQ(released, kThreads - 1);
  }
}

TEST(ActivateJoiningMta, JoinsOnceAndRetriesOnceOnlyWhenNotInitialised) {
  int joins = 0;
  std::vector<std::int32_t> answers;
  auto run = [&](std::vector<std::int32_t> script) {
    joins = 0;
    answers = std::move(script);
    std::size_t next = 0;
    std::int32_t hr = activate_joining_mta([&] { return answers.at(next++); }, [&] { ++joins; });
    return std::pair(hr, next);
  };
  constexpr std::int32_t kClassNotRegistered = static_cast<std::int32_t>(0x80040154u);

  EXPECT_EQ(run({kCoNotInitialized, 0}), std::pair(std::int32_t{0}, std::size_t{2}));
  EXPECT_EQ(joins, 1);
  EXPECT_EQ(run({kCoNotInitialized, kCoNotInitialized, 0}), std::pair(kCoNotInitialized, std::size_t{2}));
  EXPECT_EQ(joins, 1);
  EXPECT_EQ(run({kClassNotRegistered}), std::pair(kClassNotRegistered, std::size_t{1}));
  EXPECT_EQ(joins, 0);
  EXPECT_EQ(run({0}), std::pair(std::int32_t{0}, std::size_t{1}));
  EXPECT_EQ(joins, 0);
}

}  // namespace
}  // namespace quorvane::ocr
