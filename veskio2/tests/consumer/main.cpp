// Uses the installed library: a configuration file and a transfer-function
// file written and read back in the directory given as argument.
#include <fstream>
#include <iostream>

#include <boost/make_shared.hpp>

#include <veskio2/Vesk.h>
#include <veskio2/VeskConfig.h>

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  const std::string dir = argv[1];
  using namespace veskio2;
  auto mic = boost::make_shared<veskconfig::MicArrayLocationFile2_0>();
  veskconfig::Mic1 one;
  one.SetMicIndex(0);
  mic->SetMics({one});
  {
    std::ofstream out(dir + "/mic.xml");
    veskconfig::VeskConfigFileXMLWriter(out).Write(mic);
  }
  const auto config = veskconfig::VeskConfigFileXMLReader(dir + "/mic.xml").Read();
  const auto typed = boost::dynamic_pointer_cast<veskconfig::MicArrayLocationFile2_0>(config);

  auto fmt = boost::make_shared<vesk::vgtf::Fmt1_0>();
  fmt->SetMicCount(4);
  auto file = boost::make_shared<vesk::VeskFile>();
  file->AddDataSet(fmt);
  {
    std::ofstream out(dir + "/tf.bin", std::ios::binary);
    vesk::VeskFileBinaryWriter(out).Write(file);
  }
  std::ifstream in(dir + "/tf.bin", std::ios::binary);
  const auto back = vesk::VeskFileBinaryReader(in).Read();
  const auto fmtBack = boost::dynamic_pointer_cast<vesk::vgtf::Fmt1_0>(back->GetDataSets().at(0));
  std::cout << config->GetId() << " " << config->GetVersion().ToString() << " with "
            << typed->GetMics().size() << " mic; " << fmtBack->GetId() << " with "
            << fmtBack->GetMicCount() << " mics\n";
  return 0;
}
