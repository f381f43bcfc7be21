#include "map/gdal_support.hpp"

#include <mutex>

#include "map/map_services.hpp"

namespace cuserver {

void EnsureGdalRegistered() {
  static std::once_flag once;
  std::call_once(once, [] { GDALAllRegister(); });
}

GDALDriver* MapInfoDriver() {
  EnsureGdalRegistered();
  GDALDriver* driver = GetGDALDriverManager()->GetDriverByName("MapInfo File");
  if (!driver) throw MapError("GDAL has no MapInfo File driver");
  return driver;
}

std::string GdalReason() {
  const char* message = CPLGetLastErrorMsg();
  if (message == nullptr || *message == '\0') return "GDAL gave no reason";
  return message;
}

}  // namespace cuserver
