#pragma once

// The same map questions asked of PostGIS, as a user without the in-memory
// index would ask them: one prepared query per position over libpq.

#include <memory>
#include <string>

#include "network.hpp"

struct pg_conn;

namespace cuserver::bench {

class PostgisPeer {
 public:
  // Connects with a libpq connection string; throws std::runtime_error.
  explicit PostgisPeer(const std::string& connection);
  ~PostgisPeer();
  PostgisPeer(const PostgisPeer&) = delete;
  PostgisPeer& operator=(const PostgisPeer&) = delete;

  // Replaces the tables bench_highway (one row per segment, geography with a
  // GiST index) and bench_area (geometry polygons with a GiST index).
  void Load(const BenchMap& map);

  // ST_DWithin on geography: a named highway within toleranceMetres.
  bool IsOnHighway(LonLat position, double toleranceMetres);
  // The names of the areas that cover the position, joined in table order.
  std::string AreaNamesAt(LonLat position);

 private:
  void Execute(const std::string& statement);
  std::string Ask(const char* prepared, LonLat position, const std::string* third);

  pg_conn* connection_;
};

}  // namespace cuserver::bench
