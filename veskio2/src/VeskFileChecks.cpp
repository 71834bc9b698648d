#include "VeskFileChecks.h"

namespace veskio2 {
namespace detail {


namespace {

// "<context>: expected <expected> <what> (<why>), found <found>".
void Agree(const std::string& context, int64_t expected, const char* why, int64_t found,
           const char* what) {
  if (expected != found)
    throw InvalidVeskFile(context + ": expected " + std::to_string(expected) + " " + what + " (" + why +
                          "), found " + std::to_string(found));
}

}  // namespace

void ThrowRagged(const std::string& context, const char* name, const std::vector<std::size_t>& indices,
                 uint64_t expected, uint64_t found) {
  std::string where = name;
  for (std::size_t i : indices) where += "[" + std::to_string(i) + "]";
  throw InvalidVeskFile(context + ": " + name + " is ragged: expected " + std::to_string(expected) +
                        " entries in " + where + ", found " + std::to_string(found));
}

std::string DataSetName(const std::string& id, const Version& version) {
  return id + " " + version.ToString();
}

void CheckFmt(const vesk::vgtf::Fmt1_0& fmt, const std::string& context) {
  if (fmt.HasMicCount() && fmt.HasMicPositions())
    Agree(context, fmt.GetMicCount(), "micCount", static_cast<int64_t>(fmt.GetMicPositions().size()),
          "micPositions");
}

void CheckM2PG(const vesk::vgtf::M2PG1_0& m2pg, const std::string& context) {
  std::vector<uint64_t> positions, tf;
  if (m2pg.HasPositions()) positions = ShapeOf(m2pg.GetPositions(), context, "positions");
  if (m2pg.HasTf()) tf = ShapeOf(m2pg.GetTf(), context, "tf");
  // The inner dimension of an array without sources is unknowable.
  const auto innerKnown = [](const std::vector<uint64_t>& dims) { return dims[0] > 0; };
  if (m2pg.HasSourceCount()) {
    if (!positions.empty())
      Agree(context, m2pg.GetSourceCount(), "sourceCount", static_cast<int64_t>(positions[0]),
            "sources in positions");
    if (!tf.empty())
      Agree(context, m2pg.GetSourceCount(), "sourceCount", static_cast<int64_t>(tf[0]), "sources in tf");
  }
  if (m2pg.HasInnerCount()) {
    if (!positions.empty() && innerKnown(positions))
      Agree(context, m2pg.GetInnerCount(), "innerCount", static_cast<int64_t>(positions[1]),
            "inner positions per source in positions");
    if (!tf.empty() && innerKnown(tf))
      Agree(context, m2pg.GetInnerCount(), "innerCount", static_cast<int64_t>(tf[1]),
            "inner positions per source in tf");
  }
  if (!positions.empty() && !tf.empty()) {
    Agree(context, static_cast<int64_t>(positions[0]), "as in positions", static_cast<int64_t>(tf[0]),
          "sources in tf");
    if (innerKnown(tf))
      Agree(context, static_cast<int64_t>(positions[1]), "as in positions", static_cast<int64_t>(tf[1]),
            "inner positions per source in tf");
  }
}

void CheckGTF(const vesk::vgtf::GTF1_0& gtf, const std::string& context) {
  std::vector<uint64_t> tf;
  if (gtf.HasTf()) tf = ShapeOf(gtf.GetTf(), context, "tf");
  const bool binsKnown = !tf.empty() && tf[0] > 0 && tf[1] > 0;
  if (gtf.HasSourceCount()) {
    if (gtf.HasPositions())
      Agree(context, gtf.GetSourceCount(), "sourceCount", static_cast<int64_t>(gtf.GetPositions().size()),
            "positions");
    if (!tf.empty())
      Agree(context, gtf.GetSourceCount(), "sourceCount", static_cast<int64_t>(tf[0]), "sources in tf");
  }
  if (gtf.HasPositions() && !tf.empty())
    Agree(context, static_cast<int64_t>(gtf.GetPositions().size()), "as in positions",
          static_cast<int64_t>(tf[0]), "sources in tf");
  if (gtf.HasBinCount()) {
    if (gtf.HasBinIndices())
      Agree(context, gtf.GetBinCount(), "binCount", static_cast<int64_t>(gtf.GetBinIndices().size()),
            "binIndices");
    if (binsKnown)
      Agree(context, gtf.GetBinCount(), "binCount", static_cast<int64_t>(tf[2]), "bins in tf");
  }
  if (gtf.HasBinIndices() && binsKnown)
    Agree(context, static_cast<int64_t>(gtf.GetBinIndices().size()), "as in binIndices",
          static_cast<int64_t>(tf[2]), "bins in tf");
}

}  // namespace detail
}  // namespace veskio2
