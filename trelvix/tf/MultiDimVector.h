// Nested vectors of fixed depth, sized up front.
#ifndef TRELVIX_TF_MULTIDIMVECTOR_H
#define TRELVIX_TF_MULTIDIMVECTOR_H

#include <complex>
#include <cstddef>
#include <vector>

namespace trelvix {

// MultiDimVector<std::vector, T, N>::type is std::vector nested N deep.
template <template <typename...> class Container, typename T, std::size_t N>
struct MultiDimVector {
  using type = Container<typename MultiDimVector<Container, T, N - 1>::type>;
};

template <template <typename...> class Container, typename T>
struct MultiDimVector<Container, T, 1> {
  using type = Container<T>;
};

// Impulse responses [source][microphone][sample].
using IRArray = MultiDimVector<std::vector, float, 3>::type;
// One-sided spectra [source][microphone][bin], bins 0 .. nfft/2.
using TFArray = MultiDimVector<std::vector, std::complex<float>, 3>::type;

// A [d0][d1][d2] array with every element set to `value`.
template <typename T>
typename MultiDimVector<std::vector, T, 3>::type MakeArray3(std::size_t d0, std::size_t d1, std::size_t d2,
                                                            const T& value) {
  return
      typename MultiDimVector<std::vector, T, 3>::type(d0, std::vector<std::vector<T>>(d1, std::vector<T>(d2, value)));
}

}  // namespace trelvix

#endif
