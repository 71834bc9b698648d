#include "SofaWriting.h"

#include <netcdf.h>

#include <ctime>

#include "ToolError.h"

#ifndef VESK_VERSION
#define VESK_VERSION "0"
#endif

namespace vesksofa {

std::string SofaDate(long long secondsSince1970) {
  const std::time_t t = static_cast<std::time_t>(secondsSince1970);
  std::tm utc{};
  gmtime_r(&t, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &utc);
  return text;
}

SofaDims BeginSofa(NcFile& nc, const std::string& convention, const std::string& dataType, std::size_t measurements,
                   std::size_t receivers, std::size_t samples, const SofaTexts& texts, const std::string& dateCreated,
                   const std::string& application) {
  SofaDims dims;
  dims.i = nc.DefineDim("I", 1);
  dims.c = nc.DefineDim("C", 3);
  dims.m = nc.DefineDim("M", measurements);
  dims.r = nc.DefineDim("R", receivers);
  dims.e = nc.DefineDim("E", 1);
  dims.n = nc.DefineDim("N", samples);
  const auto text = [&](const char* name, const std::string& value) { nc.PutText(NC_GLOBAL, name, value); };
  text("Conventions", "SOFA");
  text("Version", "1.0");
  text("SOFAConventions", convention);
  text("SOFAConventionsVersion", "1.0");
  text("APIName", "veskio2 SOFA tools");
  text("APIVersion", VESK_VERSION);
  text("ApplicationName", application);
  text("ApplicationVersion", VESK_VERSION);
  text("AuthorContact", texts.authorContact);
  text("Organization", texts.organization);
  text("License", texts.license.empty() ? "No license provided, ask the author for permission" : texts.license);
  text("DataType", dataType);
  text("RoomType", texts.roomType.empty() ? "free field" : texts.roomType);
  text("DateCreated", dateCreated);
  text("DateModified", SofaDate(static_cast<long long>(std::time(nullptr))));
  text("Title", texts.title);
  text("Comment", texts.comment);
  text("References", texts.references);
  return dims;
}

void DefinePositions(NcFile& nc, const SofaDims& d) {
  const auto cartesian = [&](const char* name, const std::vector<int>& shape) {
    const int id = nc.DefineVar(name, NC_DOUBLE, shape);
    nc.PutText(id, "Type", "cartesian");
    nc.PutText(id, "Units", "metre");
  };
  cartesian("ListenerPosition", {d.i, d.c});
  cartesian("ListenerUp", {d.i, d.c});
  cartesian("ListenerView", {d.i, d.c});
  cartesian("ReceiverPosition", {d.r, d.c, d.i});
  cartesian("SourcePosition", {d.m, d.c});
  cartesian("EmitterPosition", {d.e, d.c, d.i});
}

void PutPositions(NcFile& nc, const std::vector<Vec3>& receivers, const std::vector<Vec3>& sources) {
  const double origin[3] = {0, 0, 0}, up[3] = {0, 0, 1}, view[3] = {1, 0, 0};
  nc.PutDoubles("ListenerPosition", {0, 0}, {1, 3}, origin);
  nc.PutDoubles("ListenerUp", {0, 0}, {1, 3}, up);
  nc.PutDoubles("ListenerView", {0, 0}, {1, 3}, view);
  nc.PutDoubles("EmitterPosition", {0, 0, 0}, {1, 3, 1}, origin);
  std::vector<double> values;
  for (const Vec3& p : receivers) values.insert(values.end(), {p.x, p.y, p.z});
  nc.PutDoubles("ReceiverPosition", {0, 0, 0}, {receivers.size(), 3, 1}, values.data());
  values.clear();
  for (const Vec3& p : sources) values.insert(values.end(), {p.x, p.y, p.z});
  nc.PutDoubles("SourcePosition", {0, 0}, {sources.size(), 3}, values.data());
}

}  // namespace vesksofa
