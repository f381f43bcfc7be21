#pragma once

#include <gdal_priv.h>
#include <ogrsf_frmts.h>

#include <memory>
#include <string>

namespace cuserver {

// Registers GDAL's drivers once per process; safe from any thread.
void EnsureGdalRegistered();

// GDAL's driver for MapInfo TAB and MIF. Throws MapError when GDAL lacks it.
GDALDriver* MapInfoDriver();

struct GdalDatasetCloser {
  void operator()(GDALDataset* dataset) const { GDALClose(dataset); }
};
using GdalDatasetPtr = std::unique_ptr<GDALDataset, GdalDatasetCloser>;

// Keeps GDAL from printing its errors on this thread while alive; the last
// error is still recorded for GdalReason.
class QuietGdalErrors {
 public:
  QuietGdalErrors() { CPLPushErrorHandler(CPLQuietErrorHandler); }
  ~QuietGdalErrors() { CPLPopErrorHandler(); }
  QuietGdalErrors(const QuietGdalErrors&) = delete;
  QuietGdalErrors& operator=(const QuietGdalErrors&) = delete;
};

// GDAL's last error message on this thread, or a plain phrase when it has none.
std::string GdalReason();

}  // namespace cuserver
