#include "ImpulseFile.h"

#include <cstdint>
#include <cstring>
#include <vector>

#include "base/OutputTarget.h"
#include "veskio2/ByteOrder.h"

namespace dravik {
namespace {

void put_little_endian(float value, unsigned char* out) { veskio2::detail::StoreF32(out, value); }

}  // namespace

std::string impulse_file_name(const std::string& head, int ordinal) { return ImpulseFileName(head, ordinal); }

int write_float_file(const std::string& path, const double* values, int count, std::string* reason) {
  if (!values || path.empty() || count < 0) return -1;
  std::vector<unsigned char> bytes(static_cast<std::size_t>(count) * 4);
  for (int m = 0; m < count; ++m) {
    put_little_endian(static_cast<float>(values[m]), bytes.data() + 4 * static_cast<std::size_t>(m));
  }
  vesk::OutputTarget file;
  // The files go to trelvix's working directory or are read at once:
  // they are renamed into place whole, without waiting for the disk.
  if (file.Open(path) && file.Write(bytes.data(), bytes.size()) && file.Commit(false)) return 0;
  if (reason) *reason = file.Reason();
  return -1;
}

}  // namespace dravik
