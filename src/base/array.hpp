// Field arrays indexed from 1, as the formulas of the solver are written.
// Bounds are checked in debug builds only; release builds index directly.
#pragma once

#include <cassert>
#include <cstddef>
#include <vector>

namespace tx {

#ifdef NDEBUG
#define TX_BOUNDS(cond) ((void)0)
#else
#define TX_BOUNDS(cond) assert(cond)
#endif

// One value per index 1..n (volumes np, rows j or columns i).
class Vec {
 public:
  Vec() = default;
  explicit Vec(int n, double v = 0.0) : d_(static_cast<std::size_t>(n), v) {}

  void assign(int n, double v = 0.0) { d_.assign(static_cast<std::size_t>(n), v); }
  void fill(double v) { d_.assign(d_.size(), v); }
  int size() const { return static_cast<int>(d_.size()); }

  double& operator()(int i) {
    TX_BOUNDS(i >= 1 && i <= size());
    return d_[static_cast<std::size_t>(i - 1)];
  }
  double operator()(int i) const {
    TX_BOUNDS(i >= 1 && i <= size());
    return d_[static_cast<std::size_t>(i - 1)];
  }

  // Raw storage: element 0 is index 1.
  double* data() { return d_.data(); }
  const double* data() const { return d_.data(); }
  std::vector<double>& raw() { return d_; }
  const std::vector<double>& raw() const { return d_; }

  bool operator==(const Vec& o) const = default;

 private:
  std::vector<double> d_;
};

// n rows of m columns, a(np, k) with 1 <= np <= n, 1 <= k <= m; the m values
// of one row are contiguous, so a row of the five-point system is one cache line.
class Mat {
 public:
  Mat() = default;
  Mat(int n, int m, double v = 0.0) { assign(n, m, v); }

  void assign(int n, int m, double v = 0.0) {
    n_ = n;
    m_ = m;
    d_.assign(static_cast<std::size_t>(n) * static_cast<std::size_t>(m), v);
  }
  void fill(double v) { d_.assign(d_.size(), v); }
  int rows() const { return n_; }
  int cols() const { return m_; }

  double& operator()(int np, int k) {
    TX_BOUNDS(np >= 1 && np <= n_ && k >= 1 && k <= m_);
    return d_[static_cast<std::size_t>(np - 1) * static_cast<std::size_t>(m_) +
              static_cast<std::size_t>(k - 1)];
  }
  double operator()(int np, int k) const {
    TX_BOUNDS(np >= 1 && np <= n_ && k >= 1 && k <= m_);
    return d_[static_cast<std::size_t>(np - 1) * static_cast<std::size_t>(m_) +
              static_cast<std::size_t>(k - 1)];
  }

  double* data() { return d_.data(); }
  const double* data() const { return d_.data(); }

  bool operator==(const Mat& o) const = default;

 private:
  int n_ = 0;
  int m_ = 0;
  std::vector<double> d_;
};

}  // namespace tx
