// The signal subspace against matrices of known eigenvalues and vectors:
// R = U diag(lambda) U^H with a random unitary U.
#include <cmath>
#include <complex>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "CovarianceToSubspace.h"

namespace {

struct Case {
  const char* name;
  std::vector<double> eigenvalues;  // ascending
  std::size_t count;
};

TEST(SubspaceSolver, FindsTheLargestEigenvectorsOfKnownMatrices) {
  const std::vector<Case> cases = {
      {"one source in noise", {0.1, 0.11, 0.12, 0.1, 0.13, 0.1, 0.1, 50.0}, 1},
      {"two sources", {1e-3, 2e-3, 3e-3, 4e-3, 5e-3, 6e-3, 3.0, 7.0}, 2},
      {"three sources of 64 microphones", std::vector<double>(61, 1e-2), 3},
      {"two equal sources", {0.1, 0.2, 0.3, 0.4, 0.5, 0.6, 4.0, 4.0}, 2},
      {"the largest of two equal ones", {0.1, 0.2, 0.3, 0.4, 0.5, 0.6, 4.0, 4.0}, 1},
      {"white noise only", {1, 1, 1, 1, 1, 1, 1, 1}, 2},
      {"a wide range", {1e-9, 1e-6, 1e-3, 1.0, 1e3, 1e6, 1e9, 1e12}, 3},
      {"one microphone", {2.5}, 1},
      {"a rank-one matrix", {0, 0, 0, 0, 0, 0, 0, 9.0}, 1},
  };
  std::mt19937_64 rng(7);
  std::normal_distribution<double> gauss;
  vesktools::SubspaceSolver solver;
  for (Case c : cases) {
    SCOPED_TRACE(c.name);
    if (c.eigenvalues.size() == 61) c.eigenvalues.insert(c.eigenvalues.end(), {5.0, 6.0, 7.0});
    const auto n = static_cast<Eigen::Index>(c.eigenvalues.size());
    Eigen::MatrixXcd x(n, n);
    for (Eigen::Index i = 0; i < n; ++i)
      for (Eigen::Index j = 0; j < n; ++j) x(i, j) = {gauss(rng), gauss(rng)};
    const Eigen::MatrixXcd u = Eigen::HouseholderQR<Eigen::MatrixXcd>(x).householderQ();
    Eigen::VectorXd lambda(n);
    for (Eigen::Index i = 0; i < n; ++i) lambda[i] = c.eigenvalues[static_cast<std::size_t>(i)];
    const Eigen::MatrixXcd r = u * lambda.cast<std::complex<double>>().asDiagonal() * u.adjoint();
    std::vector<Eigen::VectorXcd> vectors;
    solver.Largest(r, c.count, vectors);
    ASSERT_EQ(vectors.size(), c.count);
    const double scale = lambda.maxCoeff();
    // Rounding in the reduction and the products is a few hundred ulps of
    // the largest eigenvalue.
    const double tolerance = 1e-12;
    for (std::size_t k = 0; k < c.count; ++k) {
      const Eigen::VectorXcd& v = vectors[k];
      EXPECT_NEAR(v.norm(), 1.0, tolerance) << "vector " << k;
      for (std::size_t j = 0; j < k; ++j) EXPECT_LT(std::abs(vectors[j].dot(v)), tolerance) << k << " against " << j;
      // It is an eigenvector of the k-th largest eigenvalue.
      const double got = (v.adjoint() * r * v)(0, 0).real();
      EXPECT_NEAR(got, lambda[n - 1 - static_cast<Eigen::Index>(k)], tolerance * scale) << "vector " << k;
      EXPECT_LT((r * v - got * v).norm(), tolerance * scale) << "vector " << k;
    }
    // Where the chosen eigenvalues stand apart from the rest, the subspace
    // is unique: its projector is the true one.
    const Eigen::Index kept = static_cast<Eigen::Index>(c.count);
    if (kept < n && lambda[n - kept] > 1.5 * lambda[n - kept - 1]) {
      Eigen::MatrixXcd projector = Eigen::MatrixXcd::Zero(n, n), truth = projector;
      for (const auto& v : vectors) projector += v * v.adjoint();
      for (Eigen::Index k = n - kept; k < n; ++k) truth += u.col(k) * u.col(k).adjoint();
      EXPECT_LT((projector - truth).norm(), 1e-9);
    }
  }
}

}  // namespace
