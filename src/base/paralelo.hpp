// A small team of persistent threads for the loops of an outer iteration:
// the calling thread is member 0, the others wait between jobs (spinning
// briefly, then sleeping), so handing a job over costs far less than starting
// a thread. Also the row-progress counters the pipelined MSI sweeps share.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/estado.hpp"

namespace tx {

class Team {
 public:
  // threads >= 1; member 0 is the caller, so threads - 1 are started.
  explicit Team(int threads);
  ~Team();
  Team(const Team&) = delete;
  Team& operator=(const Team&) = delete;

  int size() const { return n_; }

  // Runs f(k) on member k for every k in 0..size()-1 and returns when all
  // have finished. f must not throw. Not reentrant: f must not call run.
  template <class F>
  void run(F&& f) {
    using Fn = std::remove_reference_t<F>;
    run_raw([](void* c, int k) { (*static_cast<Fn*>(c))(k); }, &f);
  }

  // Part [lo, hi) of the range [begin, end) that member k of n takes.
  static void share(int begin, int end, int k, int n, int& lo, int& hi) {
    const long long len = end - begin;
    lo = begin + static_cast<int>(len * k / n);
    hi = begin + static_cast<int>(len * (k + 1) / n);
  }

 private:
  using RawFn = void (*)(void*, int);
  void run_raw(RawFn fn, void* ctx);
  void worker(int k);
  void start_generation();
  void sleep_while(std::uint64_t seen);

  int n_;
  std::vector<std::thread> threads_;
  RawFn fn_ = nullptr;
  void* ctx_ = nullptr;
  alignas(64) std::atomic<std::uint64_t> generation_{0};
  alignas(64) std::atomic<int> finished_{0};
  std::atomic<bool> stop_{false};
  // Sleeping members. Not std::atomic::wait: the Windows build's C++ library
  // (without a futex) can lose its wakeups, and a member then sleeps forever.
  alignas(64) std::atomic<int> sleepers_{0};
  std::mutex sleep_mutex_;
  std::condition_variable wake_;
};

// Waits (spinning, then yielding the core) until counter >= target.
// Returns the value read.
int wait_at_least(const std::atomic<int>& counter, int target);

// One counter per grid row, each on its own cache line: how many volumes of
// the row a sweep has finished.
class RowProgress {
 public:
  void reset(int rows);
  std::atomic<int>& operator[](int r) { return c_[static_cast<std::size_t>(r)].v; }

 private:
  struct alignas(64) Slot {
    std::atomic<int> v{0};
  };
  std::unique_ptr<Slot[]> c_;
  int size_ = 0;
};

// The mode of the next outer iteration, and the time that iteration took
// once it is done. The tuner runs the modes in turn, twice round (from the
// most parallel down), keeps the fastest for a few hundred iterations, then
// measures again.
TeamMode next_team_mode(const Parallel& par);
void record_iteration_time(Parallel& par, double seconds);

// Threads to use: TUBRIX_THREADS if set (an integer >= 1), at most the
// number of cores; otherwise every core. Throws RunError naming the
// variable for a value that is not a positive integer.
int threads_from_environment();

// Gives the run a team of `threads` members between two outer iterations
// (one thread, or a grid under par.min_volumes volumes: no team); a new team
// has its mode measured afresh. The results do not depend on it.
void resize_team(Parallel& par, int threads, int volumes);

// The file through which a study grants a run the cores its other runs have
// left (TUBRIX_THREADS_FILE, a path relative to the run's folder), or empty.
std::string threads_file_from_environment();

// The thread count such a file holds (one integer), at most the number of
// cores; 0 when the file is absent or holds anything else.
int threads_from_file(const std::string& path);

}  // namespace tx
