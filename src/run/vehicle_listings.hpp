#pragma once

#include <string>
#include <vector>

#include "reports/catalog.hpp"
#include "reports/diagnostics.hpp"

namespace cuserver {

// Faults of the vehicle catalogue that a run notes and steps over.
struct CatalogueNotes {
  int withoutSimId = 0;              // listings with a NULL or blank SIMID
  int listedAgain = 0;               // later listings of a SIMID listed before
  std::vector<std::string> repeated;  // the SIMIDs listed more than once, in list order

  int Total() const { return withoutSimId + listedAgain; }
};

// The catalogue positions a run computes: the first listing of each SIMID. A
// listing without a SIMID and a later listing of a SIMID are left out and
// counted (a vehicle in two fleets, or a fleet id listed twice, lists its
// vehicles once per match).
std::vector<std::size_t> FirstListings(const VehicleList& vehicles, CatalogueNotes& notes);

// Tells the notes on the diagnostics, as information: the day is computed
// all the same.
void TellCatalogueNotes(const CatalogueNotes& notes, const std::string& dayKey, Diagnostics& diagnostics);

}  // namespace cuserver
