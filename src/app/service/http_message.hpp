#pragma once

// The server's side of HttpRequest: made from Beast's parsed message. Only
// the server includes this, so that the routes never see Beast.

#include <boost/beast/http.hpp>

#include "app/service/http_server.hpp"

namespace cuserver {

// The path and the query parameters percent-decoded ('+' a space in the
// query), the headers and the body moved over. The client's address is the
// caller's to set.
HttpRequest ToHttpRequest(boost::beast::http::request<boost::beast::http::string_body>&& message);

}  // namespace cuserver
