#include <fmt/format.h>

#include "db/ledger.hpp"
#include "db/ledger_internal.hpp"
#include "reports/sql_text.hpp"

namespace cuserver {
namespace {

using ledger_internal::Clipped;
using ledger_internal::IntOf;
using ledger_internal::TextOf;

DeliveryRecord ReadDelivery(const Cursor& row) {
  return {TextOf(row.Value("period")), IntOf(row.Value("attempts")), TextOf(row.Value("last_attempt")),
          TextOf(row.Value("outcome")), TextOf(row.Value("detail"))};
}

}  // namespace

std::vector<DeliveryRecord> Ledger::Deliveries(std::string_view since) {
  std::vector<DeliveryRecord> records;
  auto cursor = db_.OpenQuery(
      fmt::format("select * from cuserver_deliveries where period >= {} order by period", SqlLiteral(since)));
  for (; !cursor->AtEnd(); cursor->Next()) records.push_back(ReadDelivery(*cursor));
  cursor->Close();
  return records;
}

std::optional<DeliveryRecord> Ledger::LastDelivery() {
  auto cursor = db_.OpenQuery("select * from cuserver_deliveries order by last_attempt desc, period desc");
  std::optional<DeliveryRecord> last;
  if (!cursor->AtEnd()) last = ReadDelivery(*cursor);
  cursor->Close();
  return last;
}

void Ledger::RecordDelivery(std::string_view period, std::string_view attempted, std::string_view outcome,
                            std::string_view detail) {
  auto cursor = db_.OpenQuery(
      fmt::format("select attempts from cuserver_deliveries where period={}", SqlLiteral(period)));
  const bool exists = !cursor->AtEnd();
  cursor->Close();
  const std::string values = fmt::format("last_attempt={}, outcome={}, detail={}", SqlLiteral(attempted),
                                         SqlLiteral(Clipped(outcome, 20)), SqlLiteral(Clipped(detail, 1000)));
  if (exists) {
    db_.ExecuteStatement(fmt::format("update cuserver_deliveries set attempts=attempts+1, {} where period={}", values,
                                     SqlLiteral(period)));
    return;
  }
  db_.ExecuteStatement(fmt::format(
      "insert into cuserver_deliveries (period, attempts, last_attempt, outcome, detail) values ({}, 1, {}, {}, {})",
      SqlLiteral(period), SqlLiteral(attempted), SqlLiteral(Clipped(outcome, 20)), SqlLiteral(Clipped(detail, 1000))));
}

}  // namespace cuserver
