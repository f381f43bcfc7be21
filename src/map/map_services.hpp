#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "reports/ini_file.hpp"
#include "reports/ports.hpp"

namespace cuserver {

// A geoset or map table that cannot be read, or a layer that is not loaded.
// The message names the file or layer and GDAL's reason.
class MapError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Map settings of gpsserver.ini, section Map.
struct MapSettings {
  std::filesystem::path geoset;   // key Geoset; default HighWay/HIGHWAY.gst under the start directory
  double toleranceMetres = 30.0;  // key ToleranceMetres: how near a line or point must be
};
MapSettings ReadMapSettings(const IniFile& gpsserverIni, const std::filesystem::path& startDirectory);

// The features of a map table opened as a layer.
class TableLayer {
 public:
  virtual ~TableLayer() = default;
  virtual int FeatureCount() const = 0;
  // The text of a field of feature i (counted from 1). Throws MapError for an
  // unknown field or an index out of range.
  virtual std::string FieldText(int feature, std::string_view field) const = 0;
  virtual bool HasField(std::string_view field) const = 0;
};

// The map: the loaded geoset's layers, queried through an in-memory spatial
// index. AreaNameAt, IsOnHighway and DistanceMetres answer the reports.
// Once loaded, the map may be asked (FeatureNamesAt, IsOnHighway, AreaNameAt,
// DistanceMetres) from several threads at once; loading (LoadGeoset,
// OpenTableLayer) must not overlap any question.
class MapServices : public GeoServices {
 public:
  // Loads every table of a geoset. Features without a usable geometry (see
  // HasUsableShape) are left out, counted and named in one note per table.
  // Throws MapError naming the file when a table cannot be read, or when the
  // HIGHWAY or userspeed table has features and not one of them is usable: a
  // damaged table would otherwise leave the reports without highways or
  // speed areas, and no one would notice.
  virtual void LoadGeoset(const std::filesystem::path& geoset) = 0;
  // Names of the features of a layer at a position, in the layer's feature
  // order. Throws MapError for a layer that is not loaded.
  virtual std::vector<std::string> FeatureNamesAt(std::string_view layer, double longitude,
                                                  double latitude) const = 0;
  // Opens a map table by itself. Throws MapError naming the file.
  virtual std::unique_ptr<TableLayer> OpenTableLayer(const std::filesystem::path& path,
                                                     std::string_view name) = 0;
};

// One line the map tells about what it loaded; for the operator's log.
using MapNoteSink = std::function<void(const std::string& line)>;

// notes: where loading tells what it passed over; standard error when empty.
std::unique_ptr<MapServices> CreateMapServices(double toleranceMetres, MapNoteSink notes = {});

}  // namespace cuserver
