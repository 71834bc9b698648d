// What kind of input a path on the tf command line names.
#ifndef TRELVIX_TF_CLASSIFYINPUTFILE_H
#define TRELVIX_TF_CLASSIFYINPUTFILE_H

#include <string>

#include <boost/shared_ptr.hpp>

#include "veskio2/VeskConfig.h"

namespace trelvix {

enum class InputFileType : int {
  INVALID = 0,
  WAV = 1,
  FLT = 2,
  IR_LIST = 3,
  TSP_LIST = 4,
  MIC_ARRAY_LOCATION = 5,
  NOISE_LOCATION = 6,
};

// By the text after the last "." of the path ("wav", "flt"; neither file is
// opened), else by the id of the configuration file it holds. A path
// without ".", an unreadable configuration file or one of another id is
// INVALID. Errors of the reader other than unreadable files pass. For an
// unreadable configuration file, *reason (if given) receives the reader's
// message. For a configuration file, *parsed (if given) receives the file
// as read, so that nothing needs to read it again.
InputFileType ClassifyInputFile(const std::string& path, std::string* reason = nullptr,
                                boost::shared_ptr<veskio2::veskconfig::VeskConfigFile>* parsed = nullptr);

}  // namespace trelvix

#endif
