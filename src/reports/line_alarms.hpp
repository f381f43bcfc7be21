#pragma once

#include <string>

#include "reports/ports.hpp"
#include "reports/track.hpp"

namespace cuserver {

// What the scan of one vehicle's track wrote.
struct LineAlarmScan {
  int opened = 0;    // opening rows accepted
  int closed = 0;    // completions accepted
  int refused = 0;   // statements the database refused (recorded by the sink)
  bool leftOpen = false;  // the track ended on a highway; that row keeps ENDTIME and TOTTIME unset
};

// Walks fixes 1 to n of the loaded track (never past the end mark) and, for
// each stretch spent on a highway, opens a LINEALARMREPROT row at its first
// fix and completes it at the first fix off the highway. A stretch still open
// after the last fix stays open. One highway test per fix.
LineAlarmScan ScanLineAlarms(const TrackBuffer& track, int n, GeoServices& geo, RowSink& rows);

// Inserts the opening row; REMARK is the highway code as three digits.
// 0 when written, -1 when the database refused it.
int OpenLineAlarm(RowSink& sink, const std::string& simId, const std::string& beginTime, int code);

// Completes the rows of the SIMID and begin time with the end time and the
// duration in seconds. 0 when the update ran, -1 when the database refused it.
int CloseLineAlarm(RowSink& sink, const std::string& simId, const std::string& beginTime,
                   const std::string& endTime, int seconds);

}  // namespace cuserver
