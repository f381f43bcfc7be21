#include "postgis_peer.hpp"

#include <fmt/format.h>
#include <libpq-fe.h>

#include <stdexcept>

#include "reports/sql_text.hpp"

namespace cuserver::bench {
namespace {

std::string Wkt(const std::vector<LonLat>& positions, bool ring) {
  std::string text;
  for (const auto& p : positions) text += fmt::format("{}{:.9f} {:.9f}", text.empty() ? "" : ",", p.longitude, p.latitude);
  if (ring) text += fmt::format(",{:.9f} {:.9f}", positions[0].longitude, positions[0].latitude);
  return text;
}

}  // namespace

PostgisPeer::PostgisPeer(const std::string& connection) : connection_(PQconnectdb(connection.c_str())) {
  if (PQstatus(connection_) != CONNECTION_OK) {
    const std::string reason = PQerrorMessage(connection_);
    PQfinish(connection_);
    throw std::runtime_error("cannot connect to PostgreSQL: " + reason);
  }
  Execute("SET client_encoding TO 'UTF8'");
  Execute("SET client_min_messages TO WARNING");
}

PostgisPeer::~PostgisPeer() { PQfinish(connection_); }

void PostgisPeer::Execute(const std::string& statement) {
  PGresult* result = PQexec(connection_, statement.c_str());
  const auto status = PQresultStatus(result);
  const std::string reason = PQresultErrorMessage(result);
  PQclear(result);
  if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
    throw std::runtime_error("PostgreSQL refused " + statement.substr(0, 80) + ": " + reason);
  }
}

void PostgisPeer::Load(const BenchMap& map) {
  Execute("DROP TABLE IF EXISTS bench_highway, bench_area");
  Execute("CREATE TABLE bench_highway (id serial PRIMARY KEY, name text, geog geography(LineString, 4326))");
  Execute("CREATE TABLE bench_area (id serial PRIMARY KEY, name text, geom geometry(Polygon, 4326))");
  std::string insert;
  const auto flush = [&](const char* table, const char* column) {
    if (insert.empty()) return;
    Execute(fmt::format("INSERT INTO {} (name, {}) VALUES {}", table, column, insert));
    insert.clear();
  };
  for (const auto& line : map.highways.features) {
    for (size_t s = 1; s < line.positions.size(); ++s) {
      insert += fmt::format("{}('{}', 'SRID=4326;LINESTRING({})')", insert.empty() ? "" : ",", SqlValue(line.values[0]),
                            Wkt({line.positions[s - 1], line.positions[s]}, false));
      if (insert.size() > 200000) flush("bench_highway", "geog");
    }
  }
  flush("bench_highway", "geog");
  for (const auto& area : map.areas.features) {
    insert += fmt::format("{}('{}', 'SRID=4326;POLYGON(({}))')", insert.empty() ? "" : ",", SqlValue(area.values[0]),
                          Wkt(area.positions, true));
  }
  flush("bench_area", "geom");
  Execute("CREATE INDEX bench_highway_geog ON bench_highway USING gist (geog)");
  Execute("CREATE INDEX bench_area_geom ON bench_area USING gist (geom)");
  Execute("ANALYZE bench_highway");
  Execute("ANALYZE bench_area");

  const auto prepare = [&](const char* name, const char* query, int parameters) {
    PGresult* result = PQprepare(connection_, name, query, parameters, nullptr);
    const bool ok = PQresultStatus(result) == PGRES_COMMAND_OK;
    const std::string reason = PQresultErrorMessage(result);
    PQclear(result);
    if (!ok) throw std::runtime_error(std::string("cannot prepare ") + name + ": " + reason);
  };
  prepare("highway",
          "SELECT EXISTS (SELECT 1 FROM bench_highway WHERE name <> '' AND ST_DWithin(geog, "
          "ST_SetSRID(ST_MakePoint($1::float8, $2::float8), 4326)::geography, $3::float8))",
          3);
  prepare("area",
          "SELECT coalesce(string_agg(name, '' ORDER BY id), '') FROM bench_area "
          "WHERE ST_Covers(geom, ST_SetSRID(ST_MakePoint($1::float8, $2::float8), 4326))",
          2);
}

std::string PostgisPeer::Ask(const char* prepared, LonLat position, const std::string* third) {
  const std::string x = fmt::format("{:.9f}", position.longitude);
  const std::string y = fmt::format("{:.9f}", position.latitude);
  const char* values[3] = {x.c_str(), y.c_str(), third ? third->c_str() : nullptr};
  PGresult* result = PQexecPrepared(connection_, prepared, third ? 3 : 2, values, nullptr, nullptr, 0);
  if (PQresultStatus(result) != PGRES_TUPLES_OK || PQntuples(result) != 1) {
    const std::string reason = PQresultErrorMessage(result);
    PQclear(result);
    throw std::runtime_error(std::string("query ") + prepared + " failed: " + reason);
  }
  std::string answer = PQgetvalue(result, 0, 0);
  PQclear(result);
  return answer;
}

bool PostgisPeer::IsOnHighway(LonLat position, double toleranceMetres) {
  const std::string tolerance = fmt::format("{}", toleranceMetres);
  return Ask("highway", position, &tolerance) == "t";
}

std::string PostgisPeer::AreaNamesAt(LonLat position) { return Ask("area", position, nullptr); }

}  // namespace cuserver::bench
