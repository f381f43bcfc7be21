#pragma once

#include <string_view>

#include "app/service/http_server.hpp"

namespace cuserver {

class Service;

// The control page's routes for one waiting run and one vehicle's day; the
// control server admits the request (token, Host, Origin) first.

// DELETE /api/queue/ID (the id the run routes answered, as in /api/status):
// 200 {"id","cancelled":true}; 404 when no run of that id waits; 409 while
// it runs; 503 when the ledger cannot record the cancellation.
void CancelQueuedRun(Service& service, std::string_view id, HttpResponse& response);

// GET /api/track?day=DAYKEY&vehicle=SIMID: the day track as GeoJSON
// (DayTrackGeoJson); 400 for a bad day or no vehicle, 404 for no GPS table
// or no fix of the vehicle, 503 when the database cannot be read.
void AnswerDayTrack(Service& service, const HttpRequest& request, HttpResponse& response);

}  // namespace cuserver
