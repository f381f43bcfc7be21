#include <cmath>

#include "map/map_services.hpp"
#include "reports/text_number.hpp"

namespace cuserver {

MapSettings ReadMapSettings(const IniFile& gpsserverIni, const std::filesystem::path& startDirectory) {
  MapSettings settings;
  std::string geoset = gpsserverIni.Value("Map", "Geoset");
  if (geoset.empty()) geoset = "HighWay/HIGHWAY.gst";
  // Settings written on Windows name folders with backslashes.
  for (char& c : geoset) {
    if (c == '\\') c = '/';
  }
  const std::filesystem::path path(geoset);
  settings.geoset = path.is_absolute() ? path : startDirectory / path;

  const std::string tolerance = gpsserverIni.Value("Map", "ToleranceMetres");
  const double metres = LeadingDouble(tolerance);
  // A tolerance that is missing, not a number or not positive would leave
  // every line unmatched; the default stands instead.
  if (std::isfinite(metres) && metres > 0) settings.toleranceMetres = metres;
  return settings;
}

}  // namespace cuserver
