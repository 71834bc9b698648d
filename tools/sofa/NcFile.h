// The netCDF-4 calls of the SOFA tools: a file handle that closes itself,
// status checking that names the file and the call, and typed block reads.
#ifndef VESK_SOFA_NCFILE_H
#define VESK_SOFA_NCFILE_H

#include <cstddef>
#include <string>
#include <vector>

#include "SofaHeader.h"

namespace vesksofa {

// An open netCDF file; closes on destruction. Every failing call throws
// ToolError "<path>: <what>: <netCDF's reason>".
class NcFile {
public:
  // Opens an existing file read-only.
  static NcFile Open(const std::string& path);
  // Creates a netCDF-4 (HDF5) file, replacing whatever is at `path`;
  // messages name it `shownPath` (the target of a hidden temporary file).
  // A call that fails for a reason of the system (a file-size limit, a
  // full disk) throws "cannot write output file 'SHOWNPATH': REASON".
  static NcFile Create(const std::string& path, const std::string& shownPath);
  NcFile(NcFile&& other) noexcept;
  NcFile& operator=(NcFile&&) = delete;
  NcFile(const NcFile&) = delete;
  ~NcFile();

  int Id() const { return ncid_; }
  const std::string& Path() const { return path_; }
  // The name messages give the file.
  const std::string& Shown() const { return shown_; }
  // Throws when `status` is an error; `what` names the call's object.
  void Check(int status, const std::string& what) const;
  // Check for a call that may write the file: `error` is errno after the
  // call (cleared before it), the only place the system's reason shows,
  // since the library reports every failed write as "HDF error".
  void CheckWrite(int status, int error, const std::string& what) const;
  // Closes now, reporting a failed final write (the destructor cannot).
  void Close();

  // Header of an opened file.
  SofaHeader ReadHeader() const;
  // Throws ToolError when a classic-format file is too short for the
  // variables its header declares (netCDF-4 files are checked by HDF5).
  void CheckClassicSize(const SofaHeader& header) const;
  int VarId(const std::string& name) const;
  // Values [start, start + count) of a variable, converted to double.
  std::vector<double> ReadDoubles(const std::string& name, const std::vector<std::size_t>& start,
                                  const std::vector<std::size_t>& count) const;
  // A whole (small) variable.
  std::vector<double> ReadAllDoubles(const std::string& name, const SofaHeader& header) const;

  // Writing: dimensions, variables and attributes in define mode, then data.
  int DefineDim(const std::string& name, std::size_t length);
  int DefineVar(const std::string& name, int ncType, const std::vector<int>& dimIds);
  void PutText(int varId, const std::string& name, const std::string& value);  // NC_GLOBAL for globals
  void PutNumber(int varId, const std::string& name, double value);            // one NC_DOUBLE value
  void PutInteger(int varId, const std::string& name, int value);              // one NC_INT value
  void EndDefine();
  void PutDoubles(const std::string& name, const std::vector<std::size_t>& start, const std::vector<std::size_t>& count,
                  const double* values);
  void PutFloats(const std::string& name, const std::vector<std::size_t>& start, const std::vector<std::size_t>& count,
                 const float* values);

private:
  NcFile(int ncid, std::string path, std::string shown)
      : ncid_(ncid), path_(std::move(path)), shown_(std::move(shown)) {}
  int ncid_;
  std::string path_, shown_;
};

}  // namespace vesksofa

#endif
