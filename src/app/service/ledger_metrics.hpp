#pragma once

#include <optional>
#include <string_view>

#include "app/service/clock.hpp"
#include "app/service/metrics.hpp"
#include "app/service/schedule.hpp"
#include "db/session.hpp"

namespace cuserver {

// Fills the day ledger's part of the metrics and sets ledgerRead. The days
// missing and failed are those of the catch-up window the service sees now
// (CatchUpWindow). Throws DatabaseError.
void ReadLedgerMetrics(ReportDatabase& db, const CatchUpSettings& settings, const LocalDateTime& now,
                       ServiceMetrics& metrics);

// A local time text "yyyy-mm-dd hh:mm:ss" as Unix seconds, in the machine's
// time zone; nullopt for another text.
std::optional<long long> LocalTimeSeconds(std::string_view text);

}  // namespace cuserver
