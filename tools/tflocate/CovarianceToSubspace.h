// The signal subspace of a spatial covariance: the eigenvectors of its
// largest eigenvalues, without the full eigendecomposition.
#ifndef VESK_TFLOCATE_COVARIANCETOSUBSPACE_H
#define VESK_TFLOCATE_COVARIANCETOSUBSPACE_H

#include <complex>
#include <cstddef>
#include <vector>

#include <Eigen/Dense>

namespace vesktools {

// One per thread: holds the work space of the reduction between calls.
class SubspaceSolver {
public:
  // The unit eigenvectors of the `count` largest eigenvalues of the
  // Hermitian matrix `r` (M x M, 1 <= count <= M; only its lower triangle is
  // read), largest first, into `vectors`. Householder reduction to a real
  // tridiagonal matrix, its largest eigenvalues by bisection on Sturm counts
  // to 1e-8 of their size, their vectors by inverse iteration, carried
  // back by the reduction's reflections. A vector is defined up to its
  // phase; coinciding eigenvalues get orthonormal vectors.
  void Largest(const Eigen::MatrixXcd& r, std::size_t count, std::vector<Eigen::VectorXcd>& vectors);
  // The same on a column-major n x n array; the vectors go to
  // vectors[k * n + mic], k < count. Allocates nothing once it has seen n.
  void Largest(const std::complex<double>* r, std::size_t n, std::size_t count, std::complex<double>* vectors);

private:
  // The tridiagonal form of r into diag_/off_, the reflections into a_/tau_.
  void Reduce(const std::complex<double>* r, std::size_t n);
  // The LU factors of the tridiagonal matrix less lambda (reciprocal
  // pivots), and a solve with them in place.
  void Factor(double lambda, double tiny);
  void Solve(Eigen::VectorXd& b) const;

  std::vector<std::complex<double>> matrix_, a_, tau_, w_;
  std::vector<double> diag_, off_, off2_, eigenvalues_, start_;
  std::vector<double> dd_, dl_, du_, du2_;
  std::vector<char> swapped_;
  std::vector<Eigen::VectorXd> tridiagonalVectors_;
};

}  // namespace vesktools

#endif
