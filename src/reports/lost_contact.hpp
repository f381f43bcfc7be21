#pragma once

#include <string>

#include "reports/ports.hpp"
#include "reports/report_context.hpp"

namespace cuserver {

// Writes one CONTACTALARM row for every silence of more than an hour between
// two consecutive fixes of the loaded track (up to the end mark). The silence
// before the first and after the last fix is not considered. Returns 0.
int ComputeLostContact(const ReportContext& ctx, int n);

// Inserts one CONTACTALARM row. 0 when written, -1 when the database refused it.
int WriteLostContactRow(RowSink& sink, const std::string& simId, const std::string& begin,
                        const std::string& end);

}  // namespace cuserver
