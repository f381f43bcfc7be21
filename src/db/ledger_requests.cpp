#include "db/ledger.hpp"

#include <fmt/format.h>

#include <cstdlib>

#include "db/ledger_internal.hpp"

namespace cuserver {
namespace {

using ledger_internal::Clipped;
using ledger_internal::TextOf;

RequestRecord ReadRequest(const Cursor& row) {
  RequestRecord request;
  request.id = std::atoll(TextOf(row.Value("id")).c_str());
  request.command = TextOf(row.Value("command"));
  request.arguments = TextOf(row.Value("arguments"));
  request.label = TextOf(row.Value("label"));
  request.requested = TextOf(row.Value("requested"));
  request.started = TextOf(row.Value("started"));
  request.ended = TextOf(row.Value("ended"));
  request.outcome = TextOf(row.Value("outcome"));
  request.detail = TextOf(row.Value("detail"));
  return request;
}

}  // namespace

long long Ledger::AddRequest(std::string_view command, std::string_view arguments, std::string_view label,
                             std::string_view requested) {
  // Two services never share a database's queue at once (the start directory
  // lock and the ledger's claims see to it); a clash on the key is retried.
  for (int attempt = 0;; ++attempt) {
    auto cursor = db_.OpenQuery("select max(id) as id from cuserver_requests");
    long long id = 1;
    if (!cursor->AtEnd()) {
      if (auto last = cursor->Value("id")) id = std::atoll(last->c_str()) + 1;
    }
    cursor->Close();
    try {
      db_.ExecuteStatement(
          fmt::format("insert into cuserver_requests (id, command, arguments, label, requested) values ({}, ?, ?, ?, ?)",
                      id),
          {std::string(command), Clipped(arguments, 1000), Clipped(label, 200), std::string(requested)});
      return id;
    } catch (const DatabaseError&) {
      if (attempt == 3) throw;
    }
  }
}

void Ledger::RequestStarted(long long id, std::string_view started) {
  db_.ExecuteStatement(fmt::format("update cuserver_requests set started=? where id={}", id), {std::string(started)});
}

void Ledger::RequestEnded(long long id, std::string_view ended, std::string_view outcome, std::string_view detail) {
  db_.ExecuteStatement(fmt::format("update cuserver_requests set ended=?, outcome=?, detail=? where id={}", id),
                       {std::string(ended), Clipped(outcome, 20), Clipped(detail, 1000)});
}

void Ledger::RequestCancelled(long long id, std::string_view ended, std::string_view detail) {
  RequestEnded(id, ended, kRequestCancelled, detail);
}

std::vector<RequestRecord> Ledger::OpenRequests() {
  std::vector<RequestRecord> requests;
  auto cursor = db_.OpenQuery("select * from cuserver_requests where ended is null order by id");
  for (; !cursor->AtEnd(); cursor->Next()) requests.push_back(ReadRequest(*cursor));
  cursor->Close();
  return requests;
}

std::vector<RequestRecord> Ledger::RecentRequests(int count) {
  std::vector<RequestRecord> requests;
  auto cursor = db_.OpenQuery("select * from cuserver_requests where ended is not null order by id desc");
  for (; !cursor->AtEnd() && static_cast<int>(requests.size()) < count; cursor->Next()) {
    requests.push_back(ReadRequest(*cursor));
  }
  cursor->Close();
  return requests;
}

}  // namespace cuserver
