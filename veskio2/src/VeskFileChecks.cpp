#include "VeskFileChecks.h"

namespace veskio2 {
namespace detail {

namespace {

// "<context>: expected <expected> <what> (<why>), found <found>".
void Agree(const std::string& context, int64_t expected, const char* why, int64_t found, const char* what) {
  if (expected != found)
    throw InvalidVeskFile(context + ": expected " + std::to_string(expected) + " " + what + " (" + why + "), found " +
                          std::to_string(found));
}

}  // namespace

void ThrowRagged(const std::string& context, const char* name, const std::vector<std::size_t>& indices,
                 uint64_t expected, uint64_t found) {
  std::string where = name;
  for (std::size_t i : indices) where += "[" + std::to_string(i) + "]";
  throw InvalidVeskFile(context + ": " + name + " is ragged: expected " + std::to_string(expected) + " entries in " +
                        where + ", found " + std::to_string(found));
}

std::string DataSetName(const std::string& id, const Version& version) { return id + " " + version.ToString(); }

Counts CountsOf(const vesk::vgtf::Fmt1_0& fmt, const std::string&) {
  Counts counts;
  if (fmt.HasMicCount()) counts.micCount = fmt.GetMicCount();
  if (fmt.HasMicPositions()) counts.micPositions = std::vector<uint64_t>{fmt.GetMicPositions().size()};
  return counts;
}

Counts CountsOf(const vesk::vgtf::M2PG1_0& m2pg, const std::string& context) {
  Counts counts;
  if (m2pg.HasSourceCount()) counts.sourceCount = m2pg.GetSourceCount();
  if (m2pg.HasInnerCount()) counts.innerCount = m2pg.GetInnerCount();
  if (m2pg.HasPositions()) counts.positions = ShapeOf(m2pg.GetPositions(), context, "positions");
  if (m2pg.HasTf()) counts.tf = ShapeOf(m2pg.GetTf(), context, "tf");
  return counts;
}

Counts CountsOf(const vesk::vgtf::GTF1_0& gtf, const std::string& context) {
  Counts counts;
  if (gtf.HasSourceCount()) counts.sourceCount = gtf.GetSourceCount();
  if (gtf.HasPositions()) counts.positions = std::vector<uint64_t>{gtf.GetPositions().size()};
  if (gtf.HasBinCount()) counts.binCount = gtf.GetBinCount();
  if (gtf.HasBinIndices()) counts.binIndices = std::vector<uint64_t>{gtf.GetBinIndices().size()};
  if (gtf.HasTf()) counts.tf = ShapeOf(gtf.GetTf(), context, "tf");
  return counts;
}

void CheckFmt(const Counts& counts, const std::string& context) {
  if (counts.micCount && counts.micPositions)
    Agree(context, *counts.micCount, "micCount", static_cast<int64_t>((*counts.micPositions)[0]), "micPositions");
}

void CheckM2PG(const Counts& counts, const std::string& context) {
  static const std::vector<uint64_t> none;
  const std::vector<uint64_t>& positions = counts.positions ? *counts.positions : none;
  const std::vector<uint64_t>& tf = counts.tf ? *counts.tf : none;
  // The inner dimension of an array without sources is unknowable.
  const auto innerKnown = [](const std::vector<uint64_t>& dims) { return dims[0] > 0; };
  if (counts.sourceCount) {
    if (!positions.empty())
      Agree(context, *counts.sourceCount, "sourceCount", static_cast<int64_t>(positions[0]), "sources in positions");
    if (!tf.empty()) Agree(context, *counts.sourceCount, "sourceCount", static_cast<int64_t>(tf[0]), "sources in tf");
  }
  if (counts.innerCount) {
    if (!positions.empty() && innerKnown(positions))
      Agree(context, *counts.innerCount, "innerCount", static_cast<int64_t>(positions[1]),
            "inner positions per source in positions");
    if (!tf.empty() && innerKnown(tf))
      Agree(context, *counts.innerCount, "innerCount", static_cast<int64_t>(tf[1]), "inner positions per source in tf");
  }
  if (!positions.empty() && !tf.empty()) {
    Agree(context, static_cast<int64_t>(positions[0]), "as in positions", static_cast<int64_t>(tf[0]), "sources in tf");
    if (innerKnown(tf))
      Agree(context, static_cast<int64_t>(positions[1]), "as in positions", static_cast<int64_t>(tf[1]),
            "inner positions per source in tf");
  }
}

void CheckGTF(const Counts& counts, const std::string& context) {
  static const std::vector<uint64_t> none;
  const std::vector<uint64_t>& tf = counts.tf ? *counts.tf : none;
  const bool binsKnown = !tf.empty() && tf[0] > 0 && tf[1] > 0;
  if (counts.sourceCount) {
    if (counts.positions)
      Agree(context, *counts.sourceCount, "sourceCount", static_cast<int64_t>((*counts.positions)[0]), "positions");
    if (!tf.empty()) Agree(context, *counts.sourceCount, "sourceCount", static_cast<int64_t>(tf[0]), "sources in tf");
  }
  if (counts.positions && !tf.empty())
    Agree(context, static_cast<int64_t>((*counts.positions)[0]), "as in positions", static_cast<int64_t>(tf[0]),
          "sources in tf");
  if (counts.binCount) {
    if (counts.binIndices)
      Agree(context, *counts.binCount, "binCount", static_cast<int64_t>((*counts.binIndices)[0]), "binIndices");
    if (binsKnown) Agree(context, *counts.binCount, "binCount", static_cast<int64_t>(tf[2]), "bins in tf");
  }
  if (counts.binIndices && binsKnown)
    Agree(context, static_cast<int64_t>((*counts.binIndices)[0]), "as in binIndices", static_cast<int64_t>(tf[2]),
          "bins in tf");
}

}  // namespace detail
}  // namespace veskio2
