#include "app/service/queue_track_routes.hpp"

#include <fmt/format.h>

#include <charconv>
#include <string>

#include <nlohmann/json.hpp>

#include "app/errors.hpp"
#include "app/service/service.hpp"
#include "app/service/track_geojson.hpp"
#include "run/run_session.hpp"

namespace cuserver {
namespace {

void Answer(HttpResponse& response, int status, const nlohmann::json& body) {
  response.status = status;
  response.SetContent(body.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace),
                      "application/json; charset=utf-8");
}

}  // namespace

void CancelQueuedRun(Service& service, std::string_view id, HttpResponse& response) {
  response.SetHeader("Cache-Control", "no-store");
  long long requestId = 0;
  const auto [end, error] = std::from_chars(id.data(), id.data() + id.size(), requestId);
  if (error != std::errc{} || end != id.data() + id.size() || requestId <= 0) {
    Answer(response, 404, {{"error", fmt::format("no run {} waits in the queue", id)}});
    return;
  }
  try {
    switch (service.Cancel(requestId)) {
      case Service::CancelAnswer::Cancelled:
        Answer(response, 200, {{"id", requestId}, {"cancelled", true}});
        return;
      case Service::CancelAnswer::Running:
        Answer(response, 409, {{"error", fmt::format("run {} is running; a running run is not cancelled", id)}});
        return;
      case Service::CancelAnswer::NotWaiting:
        break;
    }
    Answer(response, 404, {{"error", fmt::format("no run {} waits in the queue", id)}});
  } catch (const ServiceUnavailableError& error) {
    Answer(response, 503, {{"error", error.what()}});
  }
}

void AnswerDayTrack(Service& service, const HttpRequest& request, HttpResponse& response) {
  response.SetHeader("Cache-Control", "no-store");
  try {
    response.status = 200;
    response.SetContent(service.TrackGeoJson(request.Param("day"), request.Param("vehicle"))
                            .dump(-1, ' ', false, nlohmann::json::error_handler_t::replace),
                        "application/geo+json");
  } catch (const ArgumentError& error) {
    Answer(response, 400, {{"error", error.what()}});
  } catch (const TrackNotFoundError& error) {
    Answer(response, 404, {{"error", error.what()}});
  } catch (const ConnectionRefusedError& error) {
    Answer(response, 503, {{"error", error.what()}});
  } catch (const DatabaseError& error) {
    Answer(response, 503, {{"error", DatabaseErrorText(error)}});
  }
}

}  // namespace cuserver
