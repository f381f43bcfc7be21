#include "map/map_writer.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <sstream>

#include "map/gdal_support.hpp"
#include "map/map_services.hpp"
#include "map/text_codec.hpp"
#include "reports/translate.hpp"

namespace cuserver {
namespace {

constexpr int kMaxCharWidth = 254;
constexpr size_t kDatNameBytes = 10;  // a dBase field name, before its NUL

[[noreturn]] void FailWriting(const std::filesystem::path& path, const std::string& reason) {
  throw MapError(TrFormat("cannot write map file {}: {}", path.string(), reason));
}

std::string Lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

// A text as the table stores it: code page 936 for a Chinese table, else ASCII.
std::string Stored(const std::filesystem::path& path, const MapTable& table, const std::string& text) {
  if (!table.chinese) {
    if (std::any_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; })) {
      FailWriting(path, fmt::format("text '{}' is not ASCII in a table of charset Neutral", text));
    }
    return text;
  }
  auto stored = Utf8ToCp936(text);
  if (!stored) FailWriting(path, fmt::format("text '{}' has no form in code page 936", text));
  return *stored;
}

void CheckTable(const std::filesystem::path& path, const MapTable& table) {
  if (table.fields.empty()) FailWriting(path, "a table needs at least one field");
  for (const auto& field : table.fields) {
    const std::string name = Stored(path, table, field);
    if (name.empty() || name.size() > kDatNameBytes ||
        name.find_first_of(" \t\r\n\",") != std::string::npos) {
      FailWriting(path, fmt::format("field name '{}' must be 1 to {} bytes without blanks, quotes or commas",
                             field, kDatNameBytes));
    }
  }
  for (const auto& feature : table.features) {
    if (feature.values.size() != table.fields.size()) {
      FailWriting(path, "every feature needs one value per field");
    }
    for (const auto& value : feature.values) {
      if (value.find_first_of("\r\n") != std::string::npos) FailWriting(path, "a value holds a line break");
    }
    const size_t least = feature.shape == MapShape::Point ? 1 : feature.shape == MapShape::Line ? 2 : 3;
    if (feature.positions.size() < least) FailWriting(path, "a feature has too few positions for its shape");
  }
}

int CharWidth(const std::filesystem::path& path, const MapTable& table, size_t field) {
  size_t width = 10;
  for (const auto& feature : table.features) {
    width = std::max(width, Stored(path, table, feature.values[field]).size());
  }
  if (width > kMaxCharWidth) FailWriting(path, "a value is longer than 254 bytes");
  return static_cast<int>(width);
}

std::vector<LonLat> ClosedRing(std::vector<LonLat> ring) {
  if (ring.front().longitude != ring.back().longitude || ring.front().latitude != ring.back().latitude) {
    ring.push_back(ring.front());
  }
  return ring;
}

void WriteText(const std::filesystem::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  out.close();
  if (!out) FailWriting(path, std::strerror(errno));
}

std::string ReadText(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) FailWriting(path, std::strerror(errno));
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The file name without folders and extension; folders may be written with
// backslashes.
std::string StemOf(const std::string& file) {
  const size_t slash = file.find_last_of("\\/");
  std::string name = slash == std::string::npos ? file : file.substr(slash + 1);
  const size_t dot = name.rfind('.');
  return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

std::string Placeholder(size_t field) { return fmt::format("F{}", field + 1); }

OGRGeometry* NewGeometry(const MapFeature& feature) {
  switch (feature.shape) {
    case MapShape::Point:
      return new OGRPoint(feature.positions[0].longitude, feature.positions[0].latitude);
    case MapShape::Line: {
      auto* line = new OGRLineString();
      for (const auto& p : feature.positions) line->addPoint(p.longitude, p.latitude);
      return line;
    }
    case MapShape::Region: {
      auto* ring = new OGRLinearRing();
      for (const auto& p : ClosedRing(feature.positions)) ring->addPoint(p.longitude, p.latitude);
      auto* polygon = new OGRPolygon();
      polygon->addRingDirectly(ring);
      return polygon;
    }
  }
  return nullptr;
}

// GDAL's MapInfo writer turns non-ASCII field names into other names, so the
// table is written with placeholder names that are then replaced in the .TAB
// definition and the .DAT header as MapInfo itself stores them.
void PatchFieldNames(const std::filesystem::path& path, const MapTable& table) {
  std::string tab = ReadText(path);
  for (size_t i = 0; i < table.fields.size(); ++i) {
    const std::string from = "    " + Placeholder(i) + " ";
    const size_t at = tab.find(from);
    if (at == std::string::npos) FailWriting(path, "GDAL wrote an unexpected field definition");
    tab.replace(at, from.size(), "    " + Stored(path, table, table.fields[i]) + " ");
  }
  WriteText(path, tab);

  std::filesystem::path dat = path;
  dat.replace_extension(".dat");
  std::fstream file(dat, std::ios::binary | std::ios::in | std::ios::out);
  if (!file) FailWriting(dat, std::strerror(errno));
  for (size_t i = 0; i < table.fields.size(); ++i) {
    char name[kDatNameBytes + 1] = {};
    const std::string stored = Stored(path, table, table.fields[i]);
    std::memcpy(name, stored.data(), stored.size());
    file.seekp(static_cast<std::streamoff>(32 + 32 * i));
    file.write(name, sizeof name);
  }
  file.close();
  if (!file) FailWriting(dat, "cannot set the field names");
}

// GDAL writes its MapInfo files with lower-case extensions; a table asked for
// as "NAME.TAB" gets "NAME.DAT", "NAME.MAP" and "NAME.ID" as MapInfo on
// Windows names them.
void SetExtensionCase(const std::filesystem::path& written, const std::filesystem::path& wanted) {
  const bool upper = wanted.extension() == ".TAB";
  const std::pair<const char*, const char*> extensions[] = {
      {".tab", ".TAB"}, {".dat", ".DAT"}, {".map", ".MAP"}, {".id", ".ID"}};
  for (const auto& [lower, capital] : extensions) {
    std::filesystem::path from = written;
    from.replace_extension(lower);
    const std::filesystem::path to =
        std::string_view(lower) == ".tab" ? wanted : std::filesystem::path(wanted).replace_extension(upper ? capital : lower);
    if (from == to) continue;
    std::error_code error;
    if (std::filesystem::exists(from, error)) std::filesystem::rename(from, to, error);
    if (error) FailWriting(to, error.message());
  }
}

void WriteTab(const std::filesystem::path& wanted, const MapTable& table) {
  GDALDriver* driver = MapInfoDriver();
  std::filesystem::path path = wanted;
  path.replace_extension(".tab");
  for (const std::string extension : {".tab", ".dat", ".map", ".id", ".TAB", ".DAT", ".MAP", ".ID"}) {
    std::filesystem::path old = wanted;
    old.replace_extension(extension);
    std::error_code ignored;
    std::filesystem::remove(old, ignored);
  }
  CPLErrorReset();
  const char* datasetOptions[] = {"FORMAT=TAB", nullptr};
  GdalDatasetPtr dataset(driver->Create(path.string().c_str(), 0, 0, 0, GDT_Unknown,
                                        const_cast<char**>(datasetOptions)));
  if (!dataset) FailWriting(path, GdalReason());

  OGRSpatialReference wgs84;
  wgs84.SetWellKnownGeogCS("WGS84");
  wgs84.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
  const char* encoding = table.chinese ? "ENCODING=CP936" : "ENCODING=";
  const char* layerOptions[] = {encoding, "BOUNDS=-180,-90,180,90", nullptr};
  OGRLayer* layer = dataset->CreateLayer(path.stem().string().c_str(), &wgs84, wkbUnknown,
                                         const_cast<char**>(layerOptions));
  if (!layer) FailWriting(path, GdalReason());
  for (size_t i = 0; i < table.fields.size(); ++i) {
    OGRFieldDefn field(Placeholder(i).c_str(), OFTString);
    field.SetWidth(CharWidth(path, table, i));
    if (layer->CreateField(&field) != OGRERR_NONE) FailWriting(path, GdalReason());
  }
  for (const auto& feature : table.features) {
    OGRFeature row(layer->GetLayerDefn());
    for (size_t i = 0; i < feature.values.size(); ++i) {
      row.SetField(static_cast<int>(i), feature.values[i].c_str());
    }
    row.SetGeometryDirectly(NewGeometry(feature));
    if (layer->CreateFeature(&row) != OGRERR_NONE) FailWriting(path, GdalReason());
  }
  dataset.reset();
  if (CPLGetLastErrorType() >= CE_Failure) FailWriting(path, GdalReason());
  PatchFieldNames(path, table);
  SetExtensionCase(path, wanted);
}

std::string MifQuoted(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

void WriteMif(const std::filesystem::path& path, const MapTable& table) {
  std::string mif = "Version 300\r\n";
  mif += table.chinese ? "Charset \"WindowsSimpChinese\"\r\n" : "Charset \"Neutral\"\r\n";
  mif += "Delimiter \",\"\r\nCoordSys Earth Projection 1, 104\r\n";
  mif += fmt::format("Columns {}\r\n", table.fields.size());
  for (size_t i = 0; i < table.fields.size(); ++i) {
    mif += fmt::format("  {} Char({})\r\n", Stored(path, table, table.fields[i]), CharWidth(path, table, i));
  }
  mif += "Data\r\n\r\n";
  std::string mid;
  for (const auto& feature : table.features) {
    switch (feature.shape) {
      case MapShape::Point:
        mif += fmt::format("Point {} {}\r\n", feature.positions[0].longitude, feature.positions[0].latitude);
        break;
      case MapShape::Line:
        mif += fmt::format("Pline {}\r\n", feature.positions.size());
        for (const auto& p : feature.positions) mif += fmt::format("{} {}\r\n", p.longitude, p.latitude);
        mif += "    Pen (1,2,0)\r\n";
        break;
      case MapShape::Region: {
        const auto ring = ClosedRing(feature.positions);
        mif += fmt::format("Region 1\r\n  {}\r\n", ring.size());
        for (const auto& p : ring) mif += fmt::format("{} {}\r\n", p.longitude, p.latitude);
        mif += "    Pen (1,2,0)\r\n    Brush (1,0,16777215)\r\n";
        break;
      }
    }
    for (size_t i = 0; i < feature.values.size(); ++i) {
      if (i > 0) mid += ',';
      mid += MifQuoted(Stored(path, table, feature.values[i]));
    }
    mid += "\r\n";
  }
  std::filesystem::path midPath = path;
  midPath.replace_extension(path.extension() == ".MIF" ? ".MID" : ".mid");
  WriteText(path, mif);
  WriteText(midPath, mid);
}

}  // namespace

void WriteMapTable(const std::filesystem::path& path, const MapTable& table) {
  CheckTable(path, table);
  const std::string extension = Lower(path.extension().string());
  if (extension == ".tab") {
    WriteTab(path, table);
  } else if (extension == ".mif") {
    WriteMif(path, table);
  } else {
    FailWriting(path, "the extension must be .tab or .mif");
  }
}

void WriteGeoset(const std::filesystem::path& path, const std::string& name,
                 const std::vector<std::string>& tableFiles) {
  const auto stored = [&](const std::string& text) {
    auto out = Utf8ToCp936(text);
    if (!out) FailWriting(path, fmt::format("text '{}' has no form in code page 936", text));
    return *out;
  };
  std::string text = "!GEOSET\r\n!VERSION 450\r\n\r\nbegin_metadata\r\n";
  text += "\"\\GEOSET\" = \"\"\r\n";
  text += fmt::format("\"\\GEOSET\\NAME\" = \"{}\"\r\n", stored(name));
  text += "\"\\TABLE\" = \"\"\r\n";
  for (size_t i = 0; i < tableFiles.size(); ++i) {
    const size_t n = i + 1;
    text += fmt::format("\"\\TABLE\\{}\" = \"\"\r\n", n);
    text += fmt::format("\"\\TABLE\\{}\\FILE\" = \"{}\"\r\n", n, stored(tableFiles[i]));
    text += fmt::format("\"\\TABLE\\{}\\ISVISIBLE\" = \"TRUE\"\r\n", n);
    text += fmt::format("\"\\TABLE\\{}\\DESCRIPTION\" = \"{}\"\r\n", n, stored(StemOf(tableFiles[i])));
  }
  text += "end_metadata\r\n";
  WriteText(path, text);
}

MapTable RoadTable(const std::vector<RoadRecord>& roads) {
  MapTable table;
  table.fields = {"主编码", "副编码", "三级编码", "name", "行政区"};
  for (const auto& road : roads) {
    MapFeature feature;
    feature.shape = MapShape::Line;
    feature.positions = road.positions;
    if (feature.positions.empty()) feature.positions = {{0, 0}, {0.0001, 0}};
    if (feature.positions.size() == 1) feature.positions.push_back(feature.positions.front());
    feature.values = {road.mainCode, road.secondaryCode, road.thirdCode, road.name, road.district};
    table.features.push_back(std::move(feature));
  }
  return table;
}

}  // namespace cuserver
