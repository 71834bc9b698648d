#include "CovarianceToSubspace.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace vesktools {
namespace {

constexpr double kEps = std::numeric_limits<double>::epsilon();
// The bracket of an eigenvalue is narrowed to this share of it; inverse
// iteration from there converges as (this share) / (relative gap) per pass,
// and nearer eigenvalues are a cluster whose vectors are made orthogonal.
constexpr double kBracket = 1e-8;
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
  matrix_.resize(n * n);
  for (std::size_t j = 0; j < n; ++j)
    for (std::size_t i = 0; i < n; ++i)
      matrix_[i + j * n] = r(static_cast<Eigen::Index>(i), static_cast<Eigen::Index>(j));
  std::vector<std::complex<double>> out(count * n);
  Largest(matrix_.data(), n, count, out.data());
  vectors.resize(count);
  for (std::size_t k = 0; k < count; ++k) vectors[k] = Eigen::Map<const Eigen::VectorXcd>(out.data() + k * n, n);
}

void SubspaceSolver::Reduce(const std::complex<double>* r, std::size_t n) {
  // Householder reflections H_i = I - tau_i v_i v_i^H (v_i[0] = 1) on the
  // lower triangle, so that Q^H R Q is tridiagonal with a real sub-diagonal
  // for Q = H_0 H_1 ... H_(n-2); LAPACK's zhetd2 done on a copy.
  a_.assign(r, r + n * n);
  tau_.assign(n, 0.0);
  w_.resize(n);
  diag_.resize(n);
  off_.resize(n > 0 ? n - 1 : 0);
  off2_.resize(off_.size());
  for (std::size_t i = 0; i + 1 < n; ++i) {
    std::complex<double>* x = a_.data() + i * n + i + 1;  // column i below the diagonal, m values
    const std::size_t m = n - i - 1;
    double tail = 0.0;
    for (std::size_t k = 1; k < m; ++k) tail += std::norm(x[k]);
    const std::complex<double> alpha = x[0];
    std::complex<double> tau = 0.0;
    double beta = alpha.real();
    if (tail > 0.0 || alpha.imag() != 0.0) {
      beta = -std::copysign(std::sqrt(std::norm(alpha) + tail), alpha.real());
      tau = std::complex<double>((beta - alpha.real()) / beta, -alpha.imag() / beta);
      const std::complex<double> d = alpha - beta;  // 1 / d without a library division
      const std::complex<double> scale = std::conj(d) / std::norm(d);
      for (std::size_t k = 1; k < m; ++k) x[k] *= scale;
    }
    x[0] = 1.0;
    tau_[i] = tau;
    off_[i] = beta;
    if (tau != 0.0) {
      // w = tau A22 v, from A22's lower triangle; then w += -tau/2 (w^H v) v
      // and A22 -= v w^H + w v^H.
      std::complex<double>* a22 = a_.data() + (i + 1) * n + i + 1;
      for (std::size_t k = 0; k < m; ++k) w_[k] = 0.0;
      for (std::size_t col = 0; col < m; ++col) {
        const std::complex<double>* c = a22 + col * n;
        std::complex<double> dot = 0.0;
        w_[col] += c[col].real() * x[col];
        for (std::size_t row = col + 1; row < m; ++row) {
          w_[row] += c[row] * x[col];
          dot += std::conj(c[row]) * x[row];
        }
        w_[col] += dot;
      }
      std::complex<double> wv = 0.0;
      for (std::size_t k = 0; k < m; ++k) {
        w_[k] *= tau;
        wv += std::conj(w_[k]) * x[k];
      }
      const std::complex<double> half = -0.5 * tau * wv;
      for (std::size_t k = 0; k < m; ++k) w_[k] += half * x[k];
      for (std::size_t col = 0; col < m; ++col) {
        std::complex<double>* c = a22 + col * n;
        const std::complex<double> xc = std::conj(x[col]), wc = std::conj(w_[col]);
        for (std::size_t row = col; row < m; ++row) c[row] -= x[row] * wc + w_[row] * xc;
      }
    }
    diag_[i] = a_[i * n + i].real();
  }
  if (n > 0) diag_[n - 1] = a_[(n - 1) * n + n - 1].real();
  for (std::size_t i = 0; i + 1 < n; ++i) off2_[i] = off_[i] * off_[i];
}

void SubspaceSolver::Largest(const std::complex<double>* r, std::size_t n, std::size_t count,
                             std::complex<double>* vectors) {
  count = std::min(count, n);
  Reduce(r, n);
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
  if (start_.size() != n * n) {
    start_.resize(n * n);
    for (std::size_t k = 0; k < n; ++k)
      for (std::size_t i = 0; i < n; ++i) start_[k * n + i] = 1.0 + 0.37 * std::sin(1.0 + 2.1 * double(i + k));
  }
  eigenvalues_.resize(count);
  tridiagonalVectors_.resize(count);
  for (std::size_t k = 0; k < count; ++k) {
    // The eigenvalue with n - 1 - k others below it, by multisection: the
    // bracket [a, b] keeps count(a) <= index < count(b).
    const std::size_t index = n - 1 - k;
    double a = lo - tiny, b = hi + tiny;
    if (k == 0) {
      // The largest eigenvalue is at least that of every 2 x 2 block on the
      // diagonal (Cauchy's interlacing): for one strong source, nearly it.
      double below = a;
      for (std::size_t i = 0; i + 1 < n; ++i) {
        const double mean = 0.5 * (diag_[i] + diag_[i + 1]), half = 0.5 * (diag_[i] - diag_[i + 1]);
        below = std::max(below, mean + std::sqrt(half * half + off2_[i]));
      }
      a = std::max(a, below - 4 * kEps * std::fabs(below) - tiny);
    }
    for (int step = 0; step < 100 && b - a > kBracket * std::max(std::fabs(a), std::fabs(b)) + pivmin; ++step) {
      double x[kPoints];
      std::size_t below[kPoints];
      // From the interlacing bound, first look just above it.
      static constexpr double kNear[kPoints] = {1e-8, 1e-6, 1e-4, 1e-2};
      for (int j = 0; j < kPoints; ++j)
        x[j] = k == 0 && step == 0 ? a + (b - a) * kNear[j] : a + (b - a) * (j + 1) / (kPoints + 1);
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
    for (std::size_t i = 0; i < n; ++i) y[static_cast<Eigen::Index>(i)] = start_[k * n + i];
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
    // Back through the reflections: x = H_0 (H_1 (... H_(n-2) y)).
    std::complex<double>* x = vectors + k * n;
    for (std::size_t i = 0; i < n; ++i) x[i] = y[static_cast<Eigen::Index>(i)];
    for (std::size_t i = n - 1; i-- > 0;) {
      if (tau_[i] == 0.0) continue;
      const std::complex<double>* v = a_.data() + i * n + i + 1;
      std::complex<double>* z = x + i + 1;
      std::complex<double> dot = 0.0;
      for (std::size_t j = 0; j < n - i - 1; ++j) dot += std::conj(v[j]) * z[j];
      dot *= tau_[i];
      for (std::size_t j = 0; j < n - i - 1; ++j) z[j] -= dot * v[j];
    }
  }
}

}  // namespace vesktools
