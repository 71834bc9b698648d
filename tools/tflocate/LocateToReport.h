// tflocate's report: the text table and the JSON text.
#ifndef VESK_TFLOCATE_LOCATETOREPORT_H
#define VESK_TFLOCATE_LOCATETOREPORT_H

#include <ostream>
#include <string>
#include <vector>

#include "Locate.h"

namespace vesktools {

// runs[0] is the file asked about, runs[1] (if any) the --compare file.
void LocateToText(const std::vector<LocateRun>& runs, std::ostream& out);
// withSpectra adds each block's spectrum over the grid's points (the plot's input).
std::string LocateToJson(const std::vector<LocateRun>& runs, bool withSpectra);

void SelfTestToText(const Steering& steering, const SearchGrid& grid, Method method, const SelfTest& test,
                    std::ostream& out);
std::string SelfTestToJson(const Steering& steering, const SearchGrid& grid, Method method, const SelfTest& test);

}  // namespace vesktools

#endif
