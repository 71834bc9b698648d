// Template mode: writes one skeleton configuration file (mic, noise, ir, tsp).
#ifndef TRELVIX_TEMPLATE_TEMPLATEMAKER_H
#define TRELVIX_TEMPLATE_TEMPLATEMAKER_H

#include <memory>

#include <boost/program_options/variables_map.hpp>

#include "options/OutputStream.h"

namespace trelvix {

class TemplateMaker {
public:
  TemplateMaker(const boost::program_options::variables_map& vm, OutputStream out);
  // Writes the template. Errors are reported on standard error; returns
  // false when one was reported (nothing usable was written).
  bool Run();

private:
  class Impl;
  std::shared_ptr<Impl> impl_;
};

}  // namespace trelvix

#endif
