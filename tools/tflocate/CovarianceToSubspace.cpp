#include "CovarianceToSubspace.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace vesktools {
namespace {

constexpr double kEps = std::numeric_limits<double>::epsilon();
constexpr int kPoints = 4;  // counts per bisection step: independent chains of divisions run side by side

// For each of the points x[j], the eigenvalues below it of the tridiagonal
// matrix with diagonal d and squared off-diagonal e2 (Sturm counts by the
// LDL^T pivots).
void CountBelow(const std::vector<double>& d, const std::vector<double>& e2, const double (&x)[kPoints], double pivmin,
                std::size_t (&below)[kPoints]) {
  double q[kPoints];
  for (int j = 0; j < kPoints; ++j) below[j] = 0, q[j] = 1.0;
  for (std::size_t i = 0; i < d.size(); ++i)
    for (int j = 0; j < kPoints; ++j) {
      q[j] = d[i] - x[j] - (i == 0 ? 0.0 : e2[i - 1] / q[j]);
      if (std::fabs(q[j]) < pivmin) q[j] = -pivmin;  // a zero pivot counts as below, as a tiny shift would
      below[j] += q[j] < 0 ? 1 : 0;
    }
}

}  // namespace

void SubspaceSolver::Factor(double lambda, double tiny) {
  const std::size_t n = diag_.size();
  dd_.assign(n, 0.0);
  dl_.assign(n, 0.0);
  du_.assign(n, 0.0);
  du2_.assign(n, 0.0);
  swapped_.assign(n, 0);
  for (std::size_t i = 0; i < n; ++i) {
    dd_[i] = diag_[i] - lambda;
    if (i + 1 < n) dl_[i] = du_[i] = off_[i];
  }
  // Gaussian elimination with partial pivoting on the band; zero pivots
  // become `tiny` (inverse iteration wants the nearly singular solve).
  for (std::size_t i = 0; i + 1 < n; ++i) {
    if (std::fabs(dd_[i]) >= std::fabs(dl_[i])) {
      if (dd_[i] == 0.0) dd_[i] = tiny;
      const double fact = dl_[i] / dd_[i];
      dl_[i] = fact;
      dd_[i + 1] -= fact * du_[i];
    } else {
      swapped_[i] = 1;
      const double fact = dd_[i] / dl_[i];
      dd_[i] = dl_[i];
      dl_[i] = fact;
      const double temp = du_[i];
      du_[i] = dd_[i + 1];
      dd_[i + 1] = temp - fact * dd_[i + 1];
      if (i + 2 < n) {
        du2_[i] = du_[i + 1];
        du_[i + 1] = -fact * du_[i + 1];
      }
    }
  }
  if (dd_[n - 1] == 0.0) dd_[n - 1] = tiny;
  for (double& v : dd_) v = 1.0 / v;
}

void SubspaceSolver::Solve(Eigen::VectorXd& b) const {
  const std::size_t n = dd_.size();
  double* y = b.data();
  for (std::size_t i = 0; i + 1 < n; ++i) {
    if (swapped_[i]) std::swap(y[i], y[i + 1]);
    y[i + 1] -= dl_[i] * y[i];
  }
  for (std::size_t k = n; k-- > 0;) {
    double v = y[k];
    if (k + 1 < n) v -= du_[k] * y[k + 1];
    if (k + 2 < n) v -= du2_[k] * y[k + 2];
    y[k] = v * dd_[k];
  }
}

void SubspaceSolver::Largest(const Eigen::MatrixXcd& r, std::size_t count, std::vector<Eigen::VectorXcd>& vectors) {
  const std::size_t n = static_cast<std::size_t>(r.rows());
  count = std::min(count, n);
  vectors.resize(count);
  reduction_.compute(r);
  diag_.resize(n);
  off_.resize(n > 0 ? n - 1 : 0);
  off2_.resize(off_.size());
  for (std::size_t i = 0; i < n; ++i) diag_[i] = reduction_.diagonal()[static_cast<Eigen::Index>(i)];
  for (std::size_t i = 0; i + 1 < n; ++i) {
    off_[i] = reduction_.subDiagonal()[static_cast<Eigen::Index>(i)];
    off2_[i] = off_[i] * off_[i];
  }
  // Gershgorin's interval holds every eigenvalue.
  double lo = std::numeric_limits<double>::infinity(), hi = -lo, maxOff2 = 0.0;
  for (std::size_t i = 0; i < n; ++i) {
    const double radius = (i > 0 ? std::fabs(off_[i - 1]) : 0.0) + (i + 1 < n ? std::fabs(off_[i]) : 0.0);
    lo = std::min(lo, diag_[i] - radius);
    hi = std::max(hi, diag_[i] + radius);
    if (i + 1 < n) maxOff2 = std::max(maxOff2, off2_[i]);
  }
  const double norm = std::max(std::fabs(lo), std::fabs(hi));
  const double pivmin = std::numeric_limits<double>::min() * std::max(1.0, maxOff2);
  const double tiny = std::max(kEps * norm, std::numeric_limits<double>::min());
  eigenvalues_.resize(count);
  tridiagonalVectors_.resize(count);
  for (std::size_t k = 0; k < count; ++k) {
    // The eigenvalue with n - 1 - k others below it, by multisection: the
    // bracket [a, b] keeps count(a) <= index < count(b).
    const std::size_t index = n - 1 - k;
    double a = lo - tiny, b = hi + tiny;
    for (int step = 0; step < 100 && b - a > 2.0 * kEps * std::max(std::fabs(a), std::fabs(b)) + pivmin; ++step) {
      double x[kPoints];
      std::size_t below[kPoints];
      for (int j = 0; j < kPoints; ++j) x[j] = a + (b - a) * (j + 1) / (kPoints + 1);
      CountBelow(diag_, off2_, x, pivmin, below);
      double na = a, nb = b;
      for (int j = 0; j < kPoints; ++j) {
        if (below[j] <= index) na = x[j];
        if (below[j] > index) {
          nb = x[j];
          break;
        }
      }
      if (na == a && nb == b) break;  // no representable point inside
      a = na, b = nb;
    }
    const double lambda = 0.5 * (a + b);
    eigenvalues_[k] = lambda;
    // Inverse iteration from a start that no eigenvector is orthogonal to
    // for long, kept orthogonal to the vectors of (nearly) equal eigenvalues.
    Factor(lambda, tiny);
    Eigen::VectorXd& y = tridiagonalVectors_[k];
    y.resize(static_cast<Eigen::Index>(n));
    for (std::size_t i = 0; i < n; ++i)
      y[static_cast<Eigen::Index>(i)] = 1.0 + 0.37 * std::sin(1.0 + 2.1 * double(i + k));
    for (int pass = 0; pass < 3; ++pass) {
      Solve(y);
      for (std::size_t j = 0; j < k; ++j)
        if (std::fabs(eigenvalues_[j] - lambda) <= 1e-3 * norm)
          y -= tridiagonalVectors_[j].dot(y) * tridiagonalVectors_[j];
      const double length = y.norm();
      if (!(length > 0) || !std::isfinite(length)) {
        y.setZero();
        y[static_cast<Eigen::Index>(index)] = 1.0;
      } else {
        y /= length;
      }
    }
    vectors[k] = reduction_.matrixQ() * y.cast<std::complex<double>>();
  }
}

}  // namespace vesktools
