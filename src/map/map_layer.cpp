#include "map/map_layer.hpp"

#include <boost/geometry.hpp>
#include <boost/geometry/index/rtree.hpp>
#include <boost/iterator/function_output_iterator.hpp>

#include <algorithm>
#include <cmath>
#include <utility>

#include "map/ground_scale.hpp"

namespace cuserver {
namespace {

namespace bg = boost::geometry;
namespace bgi = boost::geometry::index;

using Point = bg::model::d2::point_xy<double>;
using Box = bg::model::box<Point>;
using Polygon = bg::model::polygon<Point>;
using Entry = std::pair<Box, uint32_t>;  // a shape's bounds and its place in its list
using Tree = bgi::rtree<Entry, bgi::rstar<8>>;

struct Segment {
  double x1, y1, x2, y2;  // degrees; a point feature is a segment of length 0
  uint32_t feature;
};

struct Region {
  Polygon polygon;
  uint32_t feature;
};

// Distance squared in square metres from the origin to the segment a-b,
// both ends given in local ground metres.
double DistanceSquared(double ax, double ay, double bx, double by) {
  const double dx = bx - ax;
  const double dy = by - ay;
  const double length2 = dx * dx + dy * dy;
  double t = length2 > 0 ? -(ax * dx + ay * dy) / length2 : 0;
  t = std::clamp(t, 0.0, 1.0);
  const double px = ax + t * dx;
  const double py = ay + t * dy;
  return px * px + py * py;
}

Point ToPoint(const LonLat& p) { return {p.longitude, p.latitude}; }

// The holes lie inside the outer ring, so its bounds are the region's.
Box Bounds(const std::vector<LonLat>& ring) {
  Box box(ToPoint(ring[0]), ToPoint(ring[0]));
  for (const auto& p : ring) {
    box.min_corner().x(std::min(box.min_corner().x(), p.longitude));
    box.min_corner().y(std::min(box.min_corner().y(), p.latitude));
    box.max_corner().x(std::max(box.max_corner().x(), p.longitude));
    box.max_corner().y(std::max(box.max_corner().y(), p.latitude));
  }
  return box;
}

}  // namespace

struct MapLayer::Index {
  std::vector<Segment> segments;
  std::vector<Region> regions;
  Tree segmentTree;
  Tree regionTree;

  // Calls found(feature) for every feature at the position until it returns true.
  template <typename Found>
  void Visit(double longitude, double latitude, double toleranceMetres, Found&& found) const {
    if (!std::isfinite(longitude) || !std::isfinite(latitude)) return;
    const Point position(longitude, latitude);
    // The trees are queried through an output iterator: their query
    // iterators allocate, and a day asks millions of times.
    bool done = false;
    if (!regionTree.empty()) {
      regionTree.query(bgi::intersects(position), boost::make_function_output_iterator([&](const Entry& entry) {
                         const Region& region = regions[entry.second];
                         done = done || (bg::covered_by(position, region.polygon) && found(region.feature));
                       }));
      if (done) return;
    }
    if (segmentTree.empty() || !(toleranceMetres >= 0)) return;
    const GroundScale scale = GroundScaleAt(latitude);
    // Near the poles a degree of longitude shrinks to nothing; any longitude may then be near.
    const double east = std::abs(scale.east);
    const double halfWidth = east * 360 > toleranceMetres ? toleranceMetres / east : 360;
    const double halfHeight = toleranceMetres / scale.north;
    const Box box(Point(longitude - halfWidth, latitude - halfHeight),
                  Point(longitude + halfWidth, latitude + halfHeight));
    const double limit2 = toleranceMetres * toleranceMetres;
    segmentTree.query(bgi::intersects(box), boost::make_function_output_iterator([&](const Entry& entry) {
                        if (done) return;
                        const Segment& s = segments[entry.second];
                        const double d2 =
                            DistanceSquared((s.x1 - longitude) * scale.east, (s.y1 - latitude) * scale.north,
                                            (s.x2 - longitude) * scale.east, (s.y2 - latitude) * scale.north);
                        done = d2 <= limit2 && found(s.feature);
                      }));
  }
};

MapLayer::MapLayer(const MapTableContents& contents) : index_(std::make_unique<Index>()) {
  names_.reserve(contents.values.size());
  for (const auto& values : contents.values) names_.push_back(values.empty() ? std::string() : values[0]);

  std::vector<Entry> segmentEntries;
  std::vector<Entry> regionEntries;
  for (size_t i = 0; i < contents.shapes.size(); ++i) {
    const auto feature = static_cast<uint32_t>(i);
    const FeatureShapes& shapes = contents.shapes[i];
    const auto addSegment = [&](const LonLat& a, const LonLat& b) {
      Box bounds(Point(std::min(a.longitude, b.longitude), std::min(a.latitude, b.latitude)),
                 Point(std::max(a.longitude, b.longitude), std::max(a.latitude, b.latitude)));
      segmentEntries.emplace_back(bounds, static_cast<uint32_t>(index_->segments.size()));
      index_->segments.push_back({a.longitude, a.latitude, b.longitude, b.latitude, feature});
    };
    for (const auto& point : shapes.points) addSegment(point, point);
    for (const auto& line : shapes.lines) {
      if (line.size() == 1) addSegment(line[0], line[0]);
      for (size_t k = 1; k < line.size(); ++k) addSegment(line[k - 1], line[k]);
    }
    for (const auto& rings : shapes.regions) {
      if (rings.empty() || rings[0].size() < 3) continue;
      Region region{{}, feature};
      for (const auto& p : rings[0]) region.polygon.outer().push_back(ToPoint(p));
      for (size_t r = 1; r < rings.size(); ++r) {
        region.polygon.inners().emplace_back();
        for (const auto& p : rings[r]) region.polygon.inners().back().push_back(ToPoint(p));
      }
      bg::correct(region.polygon);
      regionEntries.emplace_back(Bounds(rings[0]), static_cast<uint32_t>(index_->regions.size()));
      index_->regions.push_back(std::move(region));
    }
  }
  // Built from the whole range at once, the trees are packed (sort-tile-recursive).
  index_->segmentTree = Tree(segmentEntries.begin(), segmentEntries.end());
  index_->regionTree = Tree(regionEntries.begin(), regionEntries.end());
}

MapLayer::~MapLayer() = default;

size_t MapLayer::SegmentCount() const { return index_->segments.size(); }

std::vector<uint32_t> MapLayer::FeaturesAt(double longitude, double latitude, double toleranceMetres) const {
  std::vector<uint32_t> found;
  index_->Visit(longitude, latitude, toleranceMetres, [&](uint32_t feature) {
    found.push_back(feature);
    return false;
  });
  std::sort(found.begin(), found.end());
  found.erase(std::unique(found.begin(), found.end()), found.end());
  return found;
}

bool MapLayer::NamedFeatureAt(double longitude, double latitude, double toleranceMetres) const {
  bool named = false;
  index_->Visit(longitude, latitude, toleranceMetres, [&](uint32_t feature) {
    named = !names_[feature].empty();
    return named;
  });
  return named;
}

}  // namespace cuserver
