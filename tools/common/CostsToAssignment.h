// The assignment of rows to columns that costs least: peaks to true
// directions, recording channels to microphones.
#ifndef VESK_TOOLS_COSTSTOASSIGNMENT_H
#define VESK_TOOLS_COSTSTOASSIGNMENT_H

#include <vector>

namespace vesktools {

// Minimum-cost assignment of a rows x columns cost matrix (every row the
// same length; finite costs), each row to a distinct column or, when there
// are more rows than columns, the rows left over to none (-1): result[row]
// = column. Shortest augmenting paths with potentials (Hungarian method),
// O(rows^2 columns) for rows <= columns.
std::vector<int> MinimumCostAssignment(const std::vector<std::vector<double>>& cost);

}  // namespace vesktools

#endif
