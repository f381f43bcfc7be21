#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "map/map_table.hpp"

namespace cuserver {

// One loaded map layer: its features' names and an in-memory spatial index of
// their shapes. Queries only read, so several threads may ask at once.
class MapLayer {
 public:
  explicit MapLayer(const MapTableContents& contents);
  ~MapLayer();
  MapLayer(const MapLayer&) = delete;
  MapLayer& operator=(const MapLayer&) = delete;

  // The features at a position, as indexes in the layer's feature order: the
  // regions that contain it (their boundary included) and the lines and
  // points within toleranceMetres of it, measured on the ground.
  std::vector<uint32_t> FeaturesAt(double longitude, double latitude, double toleranceMetres) const;

  // True when a feature with a non-empty name is at the position; the same
  // test as FeaturesAt, stopping at the first such feature.
  bool NamedFeatureAt(double longitude, double latitude, double toleranceMetres) const;

  const std::string& Name(uint32_t feature) const { return names_[feature]; }
  size_t FeatureCount() const { return names_.size(); }
  size_t SegmentCount() const;

 private:
  struct Index;
  std::vector<std::string> names_;
  std::unique_ptr<Index> index_;
};

}  // namespace cuserver
