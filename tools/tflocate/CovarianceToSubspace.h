// The signal subspace of a spatial covariance: the eigenvectors of its
// largest eigenvalues, without the full eigendecomposition.
#ifndef VESK_TFLOCATE_COVARIANCETOSUBSPACE_H
#define VESK_TFLOCATE_COVARIANCETOSUBSPACE_H

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
  // to full double precision, their vectors by inverse iteration, carried
  // back by the reduction's reflections. A vector is defined up to its
  // phase; coinciding eigenvalues get orthonormal vectors.
  void Largest(const Eigen::MatrixXcd& r, std::size_t count, std::vector<Eigen::VectorXcd>& vectors);

private:
  // The LU factors of the tridiagonal matrix less lambda (reciprocal
  // pivots), and a solve with them in place.
  void Factor(double lambda, double tiny);
  void Solve(Eigen::VectorXd& b) const;

  Eigen::Tridiagonalization<Eigen::MatrixXcd> reduction_;
  std::vector<double> diag_, off_, off2_, eigenvalues_;
  std::vector<double> dd_, dl_, du_, du2_;
  std::vector<char> swapped_;
  std::vector<Eigen::VectorXd> tridiagonalVectors_;
};

}  // namespace vesktools

#endif
