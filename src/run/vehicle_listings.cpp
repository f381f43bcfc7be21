#include "run/vehicle_listings.hpp"

#include <fmt/format.h>

#include <string_view>
#include <unordered_map>

namespace cuserver {

std::vector<std::size_t> FirstListings(const VehicleList& vehicles, CatalogueNotes& notes) {
  std::vector<std::size_t> first;
  first.reserve(vehicles.size());
  std::unordered_map<std::string_view, int> listings;
  listings.reserve(vehicles.size());
  for (std::size_t i = 0; i < vehicles.size(); ++i) {
    const std::string& simId = vehicles[i].simId;
    if (simId.find_first_not_of(" \t") == std::string::npos) {
      ++notes.withoutSimId;
      continue;
    }
    const int seen = listings[simId]++;
    if (seen == 0) {
      first.push_back(i);
      continue;
    }
    ++notes.listedAgain;
    if (seen == 1) notes.repeated.push_back(simId);
  }
  return first;
}

void TellCatalogueNotes(const CatalogueNotes& notes, const std::string& dayKey, Diagnostics& diagnostics) {
  if (notes.withoutSimId > 0) {
    diagnostics.Info(fmt::format("day {}: {} vehicle listings without a SIMID left out", dayKey, notes.withoutSimId));
  }
  if (notes.listedAgain == 0) return;
  std::string simIds;
  for (std::size_t i = 0; i < notes.repeated.size() && i < 20; ++i) simIds += (i > 0 ? ", " : "") + notes.repeated[i];
  if (notes.repeated.size() > 20) simIds += fmt::format(" and {} more", notes.repeated.size() - 20);
  diagnostics.Info(fmt::format("day {}: {} vehicles listed more than once, each computed once ({} later listings "
                               "left out): {}",
                               dayKey, notes.repeated.size(), notes.listedAgain, simIds));
}

}  // namespace cuserver
