#include "map/map_table.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <memory>

#include "map/gdal_support.hpp"
#include "map/map_services.hpp"
#include "map/text_codec.hpp"
#include "map/windows_path.hpp"
#include "reports/translate.hpp"

namespace cuserver {
namespace {

[[noreturn]] void Fail(const std::filesystem::path& path, const std::string& reason) {
  throw MapError(TrFormat("cannot read map table {}: {}", path.string(), reason));
}

// GDAL decodes the texts of a table that declares its charset. A table that
// declares none (charset "Neutral", a Shapefile without .cpg) hands over the
// stored bytes, which in this service's files are code page 936.
std::string Utf8Text(const char* text) {
  if (text == nullptr) return {};
  const std::string_view stored(text);
  if (IsValidUtf8(stored)) return std::string(stored);
  if (auto decoded = Cp936ToUtf8(stored)) return std::move(*decoded);
  return std::string(stored);
}

std::vector<LonLat> Positions(const OGRSimpleCurve& curve) {
  std::vector<LonLat> out;
  out.reserve(static_cast<size_t>(curve.getNumPoints()));
  for (int i = 0; i < curve.getNumPoints(); ++i) out.push_back({curve.getX(i), curve.getY(i)});
  return out;
}

void Collect(const OGRGeometry& geometry, FeatureShapes& out) {
  if (geometry.IsEmpty()) return;
  const OGRwkbGeometryType type = wkbFlatten(geometry.getGeometryType());
  if (type == wkbPoint) {
    const auto& point = *geometry.toPoint();
    out.points.push_back({point.getX(), point.getY()});
  } else if (type == wkbLineString || type == wkbLinearRing) {
    out.lines.push_back(Positions(*geometry.toSimpleCurve()));
  } else if (type == wkbPolygon) {
    std::vector<std::vector<LonLat>> rings;
    for (const auto* ring : *geometry.toPolygon()) rings.push_back(Positions(*ring));
    out.regions.push_back(std::move(rings));
  } else if (OGR_GT_IsSubClassOf(type, wkbGeometryCollection)) {
    for (const auto* part : *geometry.toGeometryCollection()) Collect(*part, out);
  } else if (geometry.hasCurveGeometry()) {
    std::unique_ptr<OGRGeometry> linear(geometry.getLinearGeometry());
    if (linear) Collect(*linear, out);
  }
}

std::unique_ptr<OGRCoordinateTransformation> ToWgs84(const OGRLayer& layer) {
  const OGRSpatialReference* source = const_cast<OGRLayer&>(layer).GetSpatialRef();
  if (source == nullptr || !source->IsProjected()) return nullptr;
  OGRSpatialReference wgs84;
  wgs84.SetWellKnownGeogCS("WGS84");
  wgs84.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
  std::unique_ptr<OGRCoordinateTransformation> transform(OGRCreateCoordinateTransformation(source, &wgs84));
  return transform;
}

// GDAL's MapInfo driver refuses a table with a missing companion file without
// saying which; files copied from Windows often lose one.
void CheckCompanions(const std::filesystem::path& path, const std::string& extension) {
  const std::vector<std::string> companions =
      extension == ".tab" ? std::vector<std::string>{".dat", ".map"} : std::vector<std::string>{".mid"};
  for (const auto& companion : companions) {
    std::filesystem::path wanted = path;
    wanted.replace_extension(companion);
    if (!FindLikeWindows(wanted.parent_path(), wanted.filename().string())) {
      Fail(path, TrFormat("its companion file {} is missing", wanted.filename().string()));
    }
  }
}

bool Placed(const LonLat& p) {
  return std::isfinite(p.longitude) && std::isfinite(p.latitude) && std::abs(p.longitude) <= 180 &&
         std::abs(p.latitude) <= 90;
}

bool AllPlaced(const std::vector<LonLat>& positions) { return std::all_of(positions.begin(), positions.end(), Placed); }

}  // namespace

bool HasUsableShape(const FeatureShapes& shapes) {
  if (std::any_of(shapes.points.begin(), shapes.points.end(), Placed)) return true;
  for (const auto& line : shapes.lines) {
    if (!line.empty() && AllPlaced(line)) return true;
  }
  for (const auto& rings : shapes.regions) {
    if (!rings.empty() && rings[0].size() >= 3 && AllPlaced(rings[0])) return true;
  }
  return false;
}

MapTableContents ReadMapTable(const std::filesystem::path& path, TableRead what) {
  EnsureGdalRegistered();
  QuietGdalErrors quiet;
  CPLErrorReset();
  // A MapInfo table goes straight to the MapInfo driver, so that its reason
  // for refusing a damaged table is heard rather than "not recognized".
  const std::string extension = FoldCase(path.extension().string());
  const char* mapInfoOnly[] = {"MapInfo File", nullptr};
  const bool mapInfo = extension == ".tab" || extension == ".mif";
  GdalDatasetPtr dataset(GDALDataset::Open(path.string().c_str(),
                                           GDAL_OF_VECTOR | GDAL_OF_READONLY | GDAL_OF_VERBOSE_ERROR,
                                           mapInfo ? mapInfoOnly : nullptr));
  if (!dataset) {
    if (mapInfo) CheckCompanions(path, extension);
    Fail(path, CPLGetLastErrorType() == CE_None ? Tr("not a map table GDAL can read") : GdalReason());
  }
  if (dataset->GetLayerCount() < 1) Fail(path, Tr("the file holds no layer"));
  OGRLayer& layer = *dataset->GetLayer(0);
  const OGRFeatureDefn& definition = *layer.GetLayerDefn();
  if (definition.GetFieldCount() < 1) Fail(path, Tr("the table has no attribute field to name its features"));
  const int fieldCount = what == TableRead::AllFieldsAndShapes ? definition.GetFieldCount() : 1;
  CPLErrorReset();
  const std::unique_ptr<OGRCoordinateTransformation> transform = ToWgs84(layer);
  if (!transform && CPLGetLastErrorType() >= CE_Failure) Fail(path, GdalReason());

  MapTableContents contents;
  for (int i = 0; i < fieldCount; ++i) contents.fields.push_back(Utf8Text(definition.GetFieldDefn(i)->GetNameRef()));
  layer.ResetReading();
  CPLErrorReset();
  for (auto& feature : layer) {
    std::vector<std::string> values;
    values.reserve(static_cast<size_t>(fieldCount));
    for (int i = 0; i < fieldCount; ++i) {
      values.push_back(feature->IsFieldSetAndNotNull(i) ? Utf8Text(feature->GetFieldAsString(i)) : std::string());
    }
    contents.values.push_back(std::move(values));
    FeatureShapes shapes;
    if (feature->GetGeometryRef() != nullptr) {
      OGRGeometry* geometry = feature->GetGeometryRef();
      if (transform && geometry->transform(transform.get()) != OGRERR_NONE) {
        Fail(path, TrFormat("feature {} cannot be turned into WGS84: {}", contents.values.size(), GdalReason()));
      }
      Collect(*geometry, shapes);
    }
    contents.shapes.push_back(std::move(shapes));
  }
  if (CPLGetLastErrorType() >= CE_Failure) Fail(path, GdalReason());
  return contents;
}

}  // namespace cuserver
