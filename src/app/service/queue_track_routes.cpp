#include "app/service/queue_track_routes.hpp"

#include <fmt/format.h>

#include <charconv>
#include <string>

#include <nlohmann/json.hpp>

#include "app/errors.hpp"
#include "app/service/api_answer.hpp"
#include "app/service/service.hpp"
#include "app/service/track_geojson.hpp"
#include "run/run_session.hpp"

namespace cuserver {

void CancelQueuedRun(Service& service, std::string_view id, HttpResponse& response) {
  response.SetHeader("Cache-Control", "no-store");
  long long requestId = 0;
  const auto [end, error] = std::from_chars(id.data(), id.data() + id.size(), requestId);
  if (error != std::errc{} || end != id.data() + id.size() || requestId <= 0) {
    AnswerJson(response, 404, {{"error", fmt::format("队列中没有等待的计算 {}", id)}});
    return;
  }
  try {
    switch (service.Cancel(requestId)) {
      case Service::CancelAnswer::Cancelled:
        AnswerJson(response, 200, {{"id", requestId}, {"cancelled", true}, {"message", fmt::format("计算 {} 已取消", id)}});
        return;
      case Service::CancelAnswer::Running:
        AnswerJson(response, 409, {{"error", fmt::format("计算 {} 正在进行，进行中的计算不能取消", id)}});
        return;
      case Service::CancelAnswer::NotWaiting:
        break;
    }
    AnswerJson(response, 404, {{"error", fmt::format("队列中没有等待的计算 {}", id)}});
  } catch (...) {
    AnswerFailure(response);
  }
}

void AnswerDayTrack(Service& service, const HttpRequest& request, HttpResponse& response) {
  response.SetHeader("Cache-Control", "no-store");
  try {
    response.status = 200;
    response.SetContent(service.TrackGeoJson(request.Param("day"), request.Param("vehicle"))
                            .dump(-1, ' ', false, nlohmann::json::error_handler_t::replace),
                        "application/geo+json");
  } catch (...) {
    AnswerFailure(response);
  }
}

}  // namespace cuserver
