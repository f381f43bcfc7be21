#pragma once

#include <span>
#include <string_view>

#include "app/service/http_server.hpp"

namespace cuserver {

class Service;

// One route of the control page: the only place a path is declared, read by
// the dispatch, by the choice of handler threads and by the token check.
struct Route {
  std::string_view method;  // GET routes answer HEAD too
  std::string_view path;    // the whole path, or every path under it when it ends with '/'
  // Slow: may wait for the database (or copy the whole geoset), so it runs on
  // handler threads apart from the page and its status.
  HandlerLane lane;
  // Needs "Authorization: Bearer <token>" when the service has a token.
  bool needsToken;
  void (*answer)(Service& service, const HttpRequest& request, HttpResponse& response);

  bool Accepts(std::string_view requestMethod) const {
    return requestMethod == method || (method == "GET" && requestMethod == "HEAD");
  }
};

// Every route, in the order the page's documentation lists them.
std::span<const Route> Routes();

// The route serving the path, null when none does.
const Route* FindRoute(std::string_view path);

}  // namespace cuserver
