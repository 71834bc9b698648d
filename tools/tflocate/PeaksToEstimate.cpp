#include <algorithm>
#include <cmath>

#include "Locate.h"

namespace vesktools {

std::vector<EstimateDirection> PeaksToEstimate(const std::vector<BlockResult>& blocks, double gateDeg) {
  struct Group {
    Direction first;
    double sum[3] = {0, 0, 0};
    std::vector<std::size_t> blocks;
  };
  struct Entry {
    std::size_t block;
    const Peak* peak;
  };
  std::vector<Entry> entries;
  for (std::size_t b = 0; b < blocks.size(); ++b)
    for (const Peak& p : blocks[b].peaks) entries.push_back({b, &p});
  // Strongest first, so that a group is named by its strongest peak.
  std::stable_sort(entries.begin(), entries.end(),
                   [](const Entry& a, const Entry& b) { return a.peak->power > b.peak->power; });
  std::vector<Group> groups;
  for (const Entry& e : entries) {
    Group* home = nullptr;
    for (Group& g : groups)
      if (AngleDeg(g.first, e.peak->direction) <= gateDeg) {
        home = &g;
        break;
      }
    if (!home) {
      groups.push_back(Group{e.peak->direction, {0, 0, 0}, {}});
      home = &groups.back();
    }
    for (int i = 0; i < 3; ++i) home->sum[i] += e.peak->direction.unit[i];
    if (std::find(home->blocks.begin(), home->blocks.end(), e.block) == home->blocks.end())
      home->blocks.push_back(e.block);
  }
  std::vector<EstimateDirection> estimate;
  for (const Group& g : groups) {
    EstimateDirection d;
    // The mean direction of the group's peaks.
    d.direction = DirectionOf(g.sum[0], g.sum[1], g.sum[2]);
    d.support = blocks.empty() ? 0.0 : static_cast<double>(g.blocks.size()) / blocks.size();
    estimate.push_back(d);
  }
  std::stable_sort(estimate.begin(), estimate.end(),
                   [](const EstimateDirection& a, const EstimateDirection& b) { return a.support > b.support; });
  return estimate;
}

}  // namespace vesktools
