// The thread team and the choice of its mode by measured iteration times.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "base/paralelo.hpp"

namespace {

TEST(Team, EveryMemberRunsOnceAndSharesCoverTheRange) {
  for (int n : {1, 2, 3}) {
    tx::Team team(n);
    std::vector<int> hits(53, 0);
    std::atomic<int> members{0};
    for (int rep = 0; rep < 100; ++rep) {
      team.run([&](int k) {
        int lo, hi;
        tx::Team::share(0, 53, k, team.size(), lo, hi);
        for (int i = lo; i < hi; ++i) ++hits[static_cast<std::size_t>(i)];
        members.fetch_add(1);
      });
    }
    EXPECT_EQ(members.load(), 100 * n);
    for (int h : hits) EXPECT_EQ(h, 100);
  }
}

// Pauses between jobs long enough for the members to fall asleep: each job
// must still wake them all (a lost wakeup hangs here).
TEST(Team, MembersAsleepBetweenJobsWakeForEachJob) {
  tx::Team team(3);
  std::atomic<int> members{0};
  for (int rep = 0; rep < 300; ++rep) {
    std::this_thread::sleep_for(std::chrono::microseconds(rep % 3 == 0 ? 300 : 1));
    team.run([&](int) { members.fetch_add(1); });
  }
  EXPECT_EQ(members.load(), 900);
}

TEST(ModeTuner, KeepsTheFastestModeThenMeasuresAgain) {
  tx::Parallel par;
  const double cost[3] = {3.0, 1.0, 2.0};  // off, tasks, pipelined
  std::vector<tx::TeamMode> seen;
  for (int it = 0; it < 20 + 6 + 300 + 6; ++it) {
    const tx::TeamMode m = tx::next_team_mode(par);
    seen.push_back(m);
    tx::record_iteration_time(par, cost[static_cast<int>(m)]);
  }
  // The quick first iterations, then every mode probed twice, interleaved.
  EXPECT_EQ(seen[0], tx::TeamMode::kPipelined);
  const tx::TeamMode round[3] = {tx::TeamMode::kPipelined, tx::TeamMode::kTasks,
                                 tx::TeamMode::kOff};
  for (int p = 0; p < 6; ++p) EXPECT_EQ(seen[static_cast<std::size_t>(20 + p)], round[p % 3]);
  EXPECT_EQ(seen[26], tx::TeamMode::kTasks);
  EXPECT_EQ(seen[26 + 299], tx::TeamMode::kTasks);
  EXPECT_EQ(seen[26 + 300], tx::TeamMode::kPipelined);  // the next round

  par.fixed = true;
  par.mode = tx::TeamMode::kOff;
  EXPECT_EQ(tx::next_team_mode(par), tx::TeamMode::kOff);
}

}  // namespace
