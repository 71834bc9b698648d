// Double dispatch: each file or data set hands itself to the writer's
// overload for its own class.
#include "veskio2/Vesk.h"
#include "veskio2/VeskConfig.h"

namespace veskio2 {

namespace veskconfig {

void VeskConfigFileWriter::Write(const boost::shared_ptr<VeskConfigFile>& file) {
  if (!file) throw std::runtime_error("cannot write configuration file: no file object");
  file->Write(*this);
}

void MicArrayLocationFile2_0::Write(VeskConfigFileWriter& writer) const { writer.Write(*this); }
void NoiseLocationFile2_0::Write(VeskConfigFileWriter& writer) const { writer.Write(*this); }
void ImpulseResponseListFile2_0::Write(VeskConfigFileWriter& writer) const { writer.Write(*this); }
void TSPListFile2_0::Write(VeskConfigFileWriter& writer) const { writer.Write(*this); }

}  // namespace veskconfig

namespace vesk {

void VeskFile::Write(VeskFileWriter& writer) { writer.Write(*this); }

namespace vgtf {

void Fmt1_0::Write(VeskFileWriter& writer) { writer.Write(*this); }
void Spec1_0::Write(VeskFileWriter& writer) { writer.Write(*this); }
void M2PG1_0::Write(VeskFileWriter& writer) { writer.Write(*this); }
void GTF1_0::Write(VeskFileWriter& writer) { writer.Write(*this); }

}  // namespace vgtf
}  // namespace vesk
}  // namespace veskio2
