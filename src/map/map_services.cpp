#include "map/map_services.hpp"

#include <fmt/format.h>

#include <iostream>
#include <map>

#include "map/distance.hpp"
#include "map/geoset.hpp"
#include "map/map_layer.hpp"
#include "map/map_table.hpp"
#include "map/windows_path.hpp"
#include "reports/translate.hpp"

namespace cuserver {
namespace {

constexpr std::string_view kHighwayLayer = "HIGHWAY";
constexpr std::string_view kAreaLayer = "userspeed";
constexpr std::string_view kOutsideAreas = "区域外面";

// The name a layer gets from its table file: the file name without folders
// (slashes or backslashes) and extension.
std::string LayerName(std::string_view file) {
  const size_t slash = file.find_last_of("\\/");
  if (slash != std::string_view::npos) file.remove_prefix(slash + 1);
  const size_t dot = file.rfind('.');
  if (dot != std::string_view::npos && dot > 0) file = file.substr(0, dot);
  return std::string(file);
}

std::filesystem::path FindFile(const std::filesystem::path& path, const char* what) {
  std::error_code error;
  if (std::filesystem::exists(path, error)) return path;
  if (auto found = FindLikeWindows({}, path.string())) return *found;
  throw MapError(TrFormat("cannot read {} {}: no such file", what, path.string()));
}

constexpr size_t kNamedAtMost = 10;

// Counts and names the features without a usable geometry (no query can
// find them) and refuses a layer the reports rely on when it has features and
// none of them is usable.
void CheckShapes(const MapTableContents& contents, const std::filesystem::path& file, std::string_view layer,
                 const MapNoteSink& notes) {
  const size_t total = contents.shapes.size();
  std::string named;
  size_t unusable = 0;
  for (size_t i = 0; i < total; ++i) {
    if (HasUsableShape(contents.shapes[i]) || ++unusable > kNamedAtMost) continue;
    const std::string name = contents.values[i].empty() ? std::string() : contents.values[i][0];
    named += fmt::format("{}#{}{}", named.empty() ? "" : ", ", i + 1, name.empty() ? "" : " " + name);
  }
  if (unusable == 0) return;
  if (unusable > kNamedAtMost) named += fmt::format(" and {} more", unusable - kNamedAtMost);
  const std::string folded = FoldCase(layer);
  if (unusable == total && (folded == FoldCase(kHighwayLayer) || folded == FoldCase(kAreaLayer))) {
    throw MapError(TrFormat(
        "map table {} refused: not one of its {} features has a usable geometry, so layer {} would be empty; its .MAP "
        "or .ID file is damaged, copy the table's files again",
        file.string(), total, layer));
  }
  notes(fmt::format("map table {}: {} of {} features have no usable geometry and are never found: {}",
                    file.string(), unusable, total, named));
}

class MapTableLayer : public TableLayer {
 public:
  explicit MapTableLayer(MapTableContents contents) : contents_(std::move(contents)) {}

  int FeatureCount() const override { return static_cast<int>(contents_.values.size()); }

  bool HasField(std::string_view field) const override { return FieldIndex(field) >= 0; }

  std::string FieldText(int feature, std::string_view field) const override {
    const int column = FieldIndex(field);
    if (column < 0) throw MapError(fmt::format("map table has no field '{}'", field));
    if (feature < 1 || feature > FeatureCount()) {
      throw MapError(fmt::format("map table has no feature {} (it has {})", feature, FeatureCount()));
    }
    return contents_.values[static_cast<size_t>(feature - 1)][static_cast<size_t>(column)];
  }

 private:
  // An exact match first, then one that differs only in ASCII case.
  int FieldIndex(std::string_view field) const {
    const auto& fields = contents_.fields;
    for (size_t i = 0; i < fields.size(); ++i) {
      if (fields[i] == field) return static_cast<int>(i);
    }
    const std::string folded = FoldCase(field);
    for (size_t i = 0; i < fields.size(); ++i) {
      if (FoldCase(fields[i]) == folded) return static_cast<int>(i);
    }
    return -1;
  }

  MapTableContents contents_;
};

// Loading (LoadGeoset, OpenTableLayer) must not overlap queries; queries may
// run on several threads at once.
class GdalMapServices : public MapServices {
 public:
  GdalMapServices(double toleranceMetres, MapNoteSink notes) : tolerance_(toleranceMetres), notes_(std::move(notes)) {
    if (!notes_) notes_ = [](const std::string& line) { std::cerr << line << '\n'; };
  }

  void LoadGeoset(const std::filesystem::path& geoset) override {
    const std::filesystem::path file = FindFile(geoset, Tr("geoset"));
    const std::filesystem::path folder = file.parent_path();
    std::map<std::string, std::shared_ptr<const MapLayer>> layers;
    for (const auto& table : ReadGeoset(file)) {
      const auto path = FindLikeWindows(folder, table);
      if (!path) {
        throw MapError(TrFormat("cannot read map table {} listed in geoset {}: no such file",
                                (folder / table).string(), file.string()));
      }
      // Two tables of one name: the first answers, as the first layer of a name did.
      const std::string key = FoldCase(LayerName(table));
      if (layers.count(key) > 0) continue;
      const MapTableContents contents = ReadMapTable(*path, TableRead::KeyAndShapes);
      CheckShapes(contents, *path, LayerName(table), notes_);
      layers.emplace(key, std::make_shared<const MapLayer>(contents));
    }
    layers_ = std::move(layers);
    Refresh();
  }

  std::vector<std::string> FeatureNamesAt(std::string_view layer, double longitude,
                                          double latitude) const override {
    const auto found = layers_.find(FoldCase(layer));
    if (found == layers_.end()) throw MapError(fmt::format("map layer '{}' is not loaded", layer));
    std::vector<std::string> names;
    for (uint32_t feature : found->second->FeaturesAt(longitude, latitude, tolerance_)) {
      names.push_back(found->second->Name(feature));
    }
    return names;
  }

  std::unique_ptr<TableLayer> OpenTableLayer(const std::filesystem::path& path, std::string_view name) override {
    const std::filesystem::path file = FindFile(path, Tr("map table"));
    MapTableContents contents = ReadMapTable(file, TableRead::AllFieldsAndShapes);
    auto layer = std::make_shared<const MapLayer>(contents);
    contents.shapes.clear();
    auto table = std::make_unique<MapTableLayer>(std::move(contents));
    layers_[FoldCase(name)] = std::move(layer);
    Refresh();
    return table;
  }

  int IsOnHighway(double latitude, double longitude) override {
    return highway_ && highway_->NamedFeatureAt(longitude, latitude, tolerance_) ? 1 : 0;
  }

  std::string AreaNameAt(double latitude, double longitude) override {
    if (!areas_) return std::string(kOutsideAreas);
    std::string joined;
    for (uint32_t feature : areas_->FeaturesAt(longitude, latitude, tolerance_)) joined += areas_->Name(feature);
    return joined.empty() ? std::string(kOutsideAreas) : joined;
  }

  double DistanceMetres(double longitude1, double latitude1, double longitude2, double latitude2) override {
    return WgsDistanceMetres(longitude1, latitude1, longitude2, latitude2);
  }

 private:
  const MapLayer* Layer(std::string_view name) const {
    const auto found = layers_.find(FoldCase(name));
    return found == layers_.end() ? nullptr : found->second.get();
  }

  void Refresh() {
    highway_ = Layer(kHighwayLayer);
    areas_ = Layer(kAreaLayer);
  }

  double tolerance_;
  MapNoteSink notes_;
  std::map<std::string, std::shared_ptr<const MapLayer>> layers_;  // by folded name
  const MapLayer* highway_ = nullptr;
  const MapLayer* areas_ = nullptr;
};

}  // namespace

std::unique_ptr<MapServices> CreateMapServices(double toleranceMetres, MapNoteSink notes) {
  return std::make_unique<GdalMapServices>(toleranceMetres, std::move(notes));
}

}  // namespace cuserver
