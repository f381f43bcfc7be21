#include "run/run_session.hpp"

#include <fmt/format.h>

#include <string>

namespace cuserver {

void OpenRunSession(ReportDatabase& db, const ConnectionSettings& settings, Caption& caption) {
  try {
    db.OpenReportSession(settings);
  } catch (const SettingsError&) {
    throw;  // the settings, not the database: trying again changes nothing
  } catch (const DatabaseError& error) {
    throw ConnectionRefusedError(
        fmt::format("{}: {}", kConnectionRefusedMessage, DatabaseErrorText(error)));
  } catch (const std::exception& error) {
    throw ConnectionRefusedError(fmt::format("{}: {}", kConnectionRefusedMessage, error.what()));
  }
  caption.Show(std::string(kConnectedCaption));
}

}  // namespace cuserver
