#include "db/backends.hpp"

namespace cuserver::test {

void BackendTest::SetUp() {
  try {
    database_ = std::make_unique<IsolatedDatabase>(GetParam());
  } catch (const std::exception& e) {
    GTEST_FAIL() << "backend " << GetParam() << " is not available: " << e.what();
  }
}

std::optional<std::string> BackendTest::QueryOne(const std::string& query, const std::string& column) {
  auto cursor = Db().OpenQuery(query);
  if (cursor->AtEnd()) throw std::runtime_error("no row from: " + query);
  auto value = cursor->Value(column);
  cursor->Close();
  return value;
}

int BackendTest::CountRows(const std::string& table) {
  return std::stoi(QueryOne("select count(*) as n from " + table, "n").value());
}

std::string BackendTestName(const ::testing::TestParamInfo<std::string>& info) { return info.param; }

}  // namespace cuserver::test
