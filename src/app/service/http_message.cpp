#include "app/service/http_message.hpp"

namespace cuserver {

namespace beast = boost::beast;
namespace http = boost::beast::http;

namespace {

bool SameNameAnyCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// %XX escapes, and '+' as a space in a query; a malformed escape stays as sent.
std::string Decoded(std::string_view text, bool plusIsSpace) {
  std::string result;
  result.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && HexDigit(text[i + 1]) >= 0 && HexDigit(text[i + 2]) >= 0) {
      result += static_cast<char>(HexDigit(text[i + 1]) * 16 + HexDigit(text[i + 2]));
      i += 2;
    } else if (plusIsSpace && text[i] == '+') {
      result += ' ';
    } else {
      result += text[i];
    }
  }
  return result;
}

std::string Text(beast::string_view text) { return std::string(text.data(), text.size()); }

}  // namespace

HttpRequest ToHttpRequest(http::request<http::string_body>&& message) {
  HttpRequest request;
  request.method = Text(message.method_string());
  const std::string_view target(message.target().data(), message.target().size());
  const std::size_t question = target.find('?');
  request.path = Decoded(target.substr(0, question), false);
  if (question != std::string_view::npos) {
    std::string_view query = target.substr(question + 1);
    while (!query.empty()) {
      const std::size_t amp = query.find('&');
      const std::string_view pair = query.substr(0, amp);
      query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
      if (pair.empty()) continue;
      const std::size_t equals = pair.find('=');
      const std::string_view value = equals == std::string_view::npos ? std::string_view() : pair.substr(equals + 1);
      request.params.emplace(Decoded(pair.substr(0, equals), true), Decoded(value, true));
    }
  }
  for (const auto& field : message) {
    request.headers.emplace_back(Text(field.name_string()), Text(field.value()));
  }
  request.body = std::move(message.body());
  return request;
}

std::string HttpRequest::Header(std::string_view name) const {
  for (const auto& [key, value] : headers) {
    if (SameNameAnyCase(key, name)) return value;
  }
  return {};
}

bool HttpRequest::HasHeader(std::string_view name) const {
  for (const auto& header : headers) {
    if (SameNameAnyCase(header.first, name)) return true;
  }
  return false;
}

std::string HttpRequest::Param(const std::string& name) const {
  const auto found = params.find(name);
  return found == params.end() ? std::string() : found->second;
}

void HttpResponse::SetHeader(std::string name, std::string value) {
  for (auto& header : headers) {
    if (SameNameAnyCase(header.first, name)) {
      header.second = std::move(value);
      return;
    }
  }
  headers.emplace_back(std::move(name), std::move(value));
}

void HttpResponse::SetContent(std::string content, std::string contentType) {
  body = std::move(content);
  SetHeader("Content-Type", std::move(contentType));
}

}  // namespace cuserver
