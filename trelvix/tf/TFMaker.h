// TF mode: turns a microphone-array location file and one list file into a
// transfer-function file.
#ifndef TRELVIX_TF_TFMAKER_H
#define TRELVIX_TF_TFMAKER_H

#include <memory>

#include <boost/program_options/variables_map.hpp>

#include "options/OutputStream.h"

namespace trelvix {

class TFMaker {
public:
  TFMaker(const boost::program_options::variables_map& vm, OutputStream out);
  // Writes the transfer-function file. Errors are reported on standard
  // error; returns false when one was reported (nothing was written).
  bool Run();

private:
  class Impl;
  std::shared_ptr<Impl> impl_;
};

}  // namespace trelvix

#endif
