#include "NcFile.h"

#include <hdf5.h>
#include <netcdf.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <utility>

#include "ToolError.h"

namespace vesksofa {

using vesktools::ToolError;

namespace {

// Longest attribute text kept; a longer one is a hostile file, not a comment.
constexpr std::size_t kMaxAttributeBytes = 1 << 20;

ValueType TypeOf(nc_type type) {
  switch (type) {
    case NC_DOUBLE:
      return ValueType::Double;
    case NC_FLOAT:
      return ValueType::Float;
    case NC_BYTE:
    case NC_UBYTE:
    case NC_SHORT:
    case NC_USHORT:
    case NC_INT:
    case NC_UINT:
    case NC_INT64:
    case NC_UINT64:
      return ValueType::Integer;
    case NC_CHAR:
    case NC_STRING:
      return ValueType::Text;
    default:
      return ValueType::Other;
  }
}

// Text attributes (NC_CHAR or the first NC_STRING) into `out`; others are skipped.
void ReadTextAttributes(const NcFile& file, int varId, int count, const std::string& owner,
                        std::map<std::string, std::string>& out) {
  for (int a = 0; a < count; ++a) {
    char name[NC_MAX_NAME + 1] = {};
    file.Check(nc_inq_attname(file.Id(), varId, a, name), "attribute " + std::to_string(a) + " of " + owner);
    nc_type type;
    std::size_t length = 0;
    file.Check(nc_inq_att(file.Id(), varId, name, &type, &length), "attribute " + std::string(name) + " of " + owner);
    if (type == NC_CHAR) {
      if (length > kMaxAttributeBytes)
        throw ToolError(file.Path() + ": attribute " + name + " of " + owner + ": expected at most " +
                        std::to_string(kMaxAttributeBytes) + " bytes, found " + std::to_string(length));
      std::string text(length, '\0');
      if (length > 0) file.Check(nc_get_att_text(file.Id(), varId, name, &text[0]), std::string("attribute ") + name);
      while (!text.empty() && text.back() == '\0') text.pop_back();
      out[name] = text;
    } else if (type == NC_STRING && length >= 1) {
      if (length > kMaxAttributeBytes)
        throw ToolError(file.Path() + ": attribute " + name + " of " + owner + " holds " + std::to_string(length) +
                        " strings");
      std::vector<char*> strings(length, nullptr);
      file.Check(nc_get_att_string(file.Id(), varId, name, strings.data()), std::string("attribute ") + name);
      const std::size_t bytes = strings[0] ? std::strlen(strings[0]) : 0;
      if (bytes <= kMaxAttributeBytes) out[name] = strings[0] ? strings[0] : "";
      nc_free_string(length, strings.data());
      if (bytes > kMaxAttributeBytes)
        throw ToolError(file.Path() + ": attribute " + name + " of " + owner + ": expected at most " +
                        std::to_string(kMaxAttributeBytes) + " bytes, found " + std::to_string(bytes));
    }
  }
}

// Before the first call into the library. A file whose writing failed
// cannot be closed (its last write fails again), and the HDF5 library's
// own clean-up at exit crashes on such a file; a file closed without error
// has been written whole, so that clean-up is skipped: the system frees
// the library's memory at exit.
void PrepareLibrary() {
  static const bool prepared = [] {
    H5dont_atexit();
    return true;
  }();
  (void)prepared;
}

// The failed call's errno when it is a reason a write fails for.
bool IsWriteFailure(int error) { return error == EFBIG || error == ENOSPC || error == EDQUOT || error == EIO; }

}  // namespace

NcFile NcFile::Open(const std::string& path) {
  PrepareLibrary();
  int ncid = -1;
  const int status = nc_open(path.c_str(), NC_NOWRITE, &ncid);
  if (status != NC_NOERR) throw ToolError(path + ": cannot open as netCDF: " + nc_strerror(status));
  return NcFile(ncid, path, path);
}

void NcFile::CheckClassicSize(const SofaHeader& header) const {
  int format = 0;
  Check(nc_inq_format(ncid_, &format), "format");
  if (format != NC_FORMAT_CLASSIC && format != NC_FORMAT_64BIT_OFFSET && format != NC_FORMAT_CDF5) return;
  // A classic file stores every value at a fixed place: its variables'
  // bytes are a lower bound of its size. The library reads a cut file's
  // missing values as zeros or stale data instead of failing.
  unsigned long long needed = 0;
  for (const auto& [name, var] : header.vars) {
    nc_type type;
    std::size_t size = 0;
    Check(nc_inq_vartype(ncid_, VarId(name), &type), "type of " + name);
    Check(nc_inq_type(ncid_, type, nullptr, &size), "type of " + name);
    unsigned long long values = 1;
    for (const auto& d : var.dims) values *= header.dims.at(d);
    needed += values * size;
  }
  std::error_code ec;
  const auto bytes = std::filesystem::file_size(path_, ec);
  if (!ec && bytes < needed)
    throw ToolError(path_ + ": a classic netCDF file of " + std::to_string(bytes) + " bytes cannot hold the " +
                    std::to_string(needed) + " bytes of its variables: it is cut short");
}

NcFile NcFile::Create(const std::string& path, const std::string& shownPath) {
  PrepareLibrary();
  int ncid = -1;
  errno = 0;
  const int status = nc_create(path.c_str(), NC_NETCDF4 | NC_CLOBBER, &ncid);
  const int error = errno;
  if (status != NC_NOERR) {
    if (IsWriteFailure(error)) throw ToolError("cannot write output file '" + shownPath + "': " + std::strerror(error));
    throw ToolError(shownPath + ": cannot create: " + nc_strerror(status));
  }
  NcFile file(ncid, path, shownPath);
  int oldFill = 0;
  // Every value is written once, so pre-filling would double the writing.
  file.Check(nc_set_fill(ncid, NC_NOFILL, &oldFill), "fill mode");
  return file;
}

NcFile::NcFile(NcFile&& other) noexcept
    : ncid_(other.ncid_), path_(std::move(other.path_)), shown_(std::move(other.shown_)) {
  other.ncid_ = -1;
}

NcFile::~NcFile() {
  if (ncid_ >= 0) nc_close(ncid_);
}

void NcFile::Close() {
  const int id = ncid_;
  ncid_ = -1;
  if (id < 0) return;
  errno = 0;
  const int status = nc_close(id);
  CheckWrite(status, errno, "closing");
}

void NcFile::Check(int status, const std::string& what) const {
  if (status != NC_NOERR) throw ToolError(shown_ + ": " + what + ": " + nc_strerror(status));
}

void NcFile::CheckWrite(int status, int error, const std::string& what) const {
  if (status != NC_NOERR && IsWriteFailure(error))
    throw ToolError("cannot write output file '" + shown_ + "': " + std::strerror(error));
  Check(status, what);
}

SofaHeader NcFile::ReadHeader() const {
  SofaHeader header;
  int numDims = 0, numVars = 0, numAttrs = 0, unlimited = 0;
  Check(nc_inq(ncid_, &numDims, &numVars, &numAttrs, &unlimited), "header");
  int dimIds[NC_MAX_DIMS];
  int numDimIds = 0;
  Check(nc_inq_dimids(ncid_, &numDimIds, nullptr, 0), "dimensions");
  if (numDimIds > NC_MAX_DIMS) throw ToolError(path_ + ": " + std::to_string(numDimIds) + " dimensions");
  Check(nc_inq_dimids(ncid_, &numDimIds, dimIds, 0), "dimensions");
  for (int d = 0; d < numDimIds; ++d) {
    char name[NC_MAX_NAME + 1] = {};
    std::size_t length = 0;
    Check(nc_inq_dim(ncid_, dimIds[d], name, &length), "dimension " + std::to_string(d));
    header.dims[name] = length;
  }
  ReadTextAttributes(*this, NC_GLOBAL, numAttrs, "the file", header.attrs);
  for (int v = 0; v < numVars; ++v) {
    char name[NC_MAX_NAME + 1] = {};
    nc_type type;
    int rank = 0, varAttrs = 0;
    Check(nc_inq_var(ncid_, v, name, &type, &rank, nullptr, &varAttrs), "variable " + std::to_string(v));
    if (rank < 0 || rank > NC_MAX_VAR_DIMS)
      throw ToolError(path_ + ": variable " + name + " has rank " + std::to_string(rank));
    std::vector<int> ids(static_cast<std::size_t>(rank) + 1);
    Check(nc_inq_vardimid(ncid_, v, ids.data()), std::string("dimensions of ") + name);
    SofaVariable var;
    var.type = TypeOf(type);
    for (int d = 0; d < rank; ++d) {
      char dimName[NC_MAX_NAME + 1] = {};
      Check(nc_inq_dimname(ncid_, ids[static_cast<std::size_t>(d)], dimName), std::string("dimensions of ") + name);
      var.dims.push_back(dimName);
    }
    ReadTextAttributes(*this, v, varAttrs, name, var.attrs);
    header.vars[name] = std::move(var);
  }
  return header;
}

int NcFile::VarId(const std::string& name) const {
  int id = -1;
  Check(nc_inq_varid(ncid_, name.c_str(), &id), "variable " + name);
  return id;
}

std::vector<double> NcFile::ReadDoubles(const std::string& name, const std::vector<std::size_t>& start,
                                        const std::vector<std::size_t>& count) const {
  std::size_t total = 1;
  for (std::size_t c : count) total *= c;
  std::vector<double> values(total);
  if (total == 0) return values;
  Check(nc_get_vara_double(ncid_, VarId(name), start.data(), count.data(), values.data()), "reading " + name);
  // Values a writer never wrote read as the fill value: refused, not taken
  // for data (no measurement holds exactly these).
  for (std::size_t i = 0; i < total; ++i)
    if (values[i] == NC_FILL_DOUBLE || values[i] == static_cast<double>(NC_FILL_FLOAT)) {
      char text[64];
      std::snprintf(text, sizeof text, "%.9g", values[i]);
      throw ToolError(path_ + ": " + name + " holds the fill value " + text + " (value " + std::to_string(i) +
                      " read): it was never written");
    }
  return values;
}

std::vector<double> NcFile::ReadAllDoubles(const std::string& name, const SofaHeader& header) const {
  const SofaVariable& var = header.vars.at(name);
  std::vector<std::size_t> start(var.dims.size(), 0), count;
  for (const auto& d : var.dims) count.push_back(static_cast<std::size_t>(header.dims.at(d)));
  return ReadDoubles(name, start, count);
}

int NcFile::DefineDim(const std::string& name, std::size_t length) {
  int id = -1;
  errno = 0;
  const int status = nc_def_dim(ncid_, name.c_str(), length, &id);
  CheckWrite(status, errno, "dimension " + name);
  return id;
}

int NcFile::DefineVar(const std::string& name, int ncType, const std::vector<int>& dimIds) {
  int id = -1;
  errno = 0;
  const int status = nc_def_var(ncid_, name.c_str(), ncType, static_cast<int>(dimIds.size()), dimIds.data(), &id);
  CheckWrite(status, errno, "variable " + name);
  if (!dimIds.empty()) {
    // Contiguous: written in order in blocks, read back in any order.
    Check(nc_def_var_chunking(ncid_, id, NC_CONTIGUOUS, nullptr), "layout of " + name);
  }
  return id;
}

void NcFile::PutText(int varId, const std::string& name, const std::string& value) {
  errno = 0;
  const int status = nc_put_att_text(ncid_, varId, name.c_str(), value.size(), value.data());
  CheckWrite(status, errno, "attribute " + name);
}

void NcFile::PutNumber(int varId, const std::string& name, double value) {
  errno = 0;
  const int status = nc_put_att_double(ncid_, varId, name.c_str(), NC_DOUBLE, 1, &value);
  CheckWrite(status, errno, "attribute " + name);
}

void NcFile::PutInteger(int varId, const std::string& name, int value) {
  errno = 0;
  const int status = nc_put_att_int(ncid_, varId, name.c_str(), NC_INT, 1, &value);
  CheckWrite(status, errno, "attribute " + name);
}

void NcFile::EndDefine() {
  errno = 0;
  const int status = nc_enddef(ncid_);
  CheckWrite(status, errno, "header");
}

void NcFile::PutDoubles(const std::string& name, const std::vector<std::size_t>& start,
                        const std::vector<std::size_t>& count, const double* values) {
  const int id = VarId(name);
  errno = 0;
  const int status = nc_put_vara_double(ncid_, id, start.data(), count.data(), values);
  CheckWrite(status, errno, "writing " + name);
}

void NcFile::PutFloats(const std::string& name, const std::vector<std::size_t>& start,
                       const std::vector<std::size_t>& count, const float* values) {
  const int id = VarId(name);
  errno = 0;
  const int status = nc_put_vara_float(ncid_, id, start.data(), count.data(), values);
  CheckWrite(status, errno, "writing " + name);
}

}  // namespace vesksofa
