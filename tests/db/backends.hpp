#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>

#include "support/db_fixture.hpp"

namespace cuserver::test {

// A test that runs once per available backend on a database of its own.
class BackendTest : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override;
  ReportDatabase& Db() { return database_->Db(); }
  IsolatedDatabase& Database() { return *database_; }
  Backend GetBackend() const { return database_->Settings().backend; }

  // The named column of the first row of a query (nullopt for NULL).
  std::optional<std::string> QueryOne(const std::string& query, const std::string& column);
  int CountRows(const std::string& table);

 private:
  std::unique_ptr<IsolatedDatabase> database_;
};

std::string BackendTestName(const ::testing::TestParamInfo<std::string>& info);

}  // namespace cuserver::test

#define CUSERVER_ON_EVERY_BACKEND(Suite)                                                      \
  INSTANTIATE_TEST_SUITE_P(Backends, Suite, ::testing::ValuesIn(cuserver::test::AvailableBackends()), \
                           cuserver::test::BackendTestName)
