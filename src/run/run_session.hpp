#pragma once

#include <stdexcept>
#include <string_view>

#include "db/session.hpp"
#include "run/caption.hpp"

namespace cuserver {

inline constexpr std::string_view kConnectedCaption = "连接数据库成功—进行数据处理！";
inline constexpr std::string_view kConnectionRefusedMessage = "连接数据库失败，请确认你使用了正确的用户名";

// The database refused the connection. The message is the operator's message
// followed by the driver's reason.
class ConnectionRefusedError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Drops the session's connection and opens a new one; shows the connected
// caption on success. Throws ConnectionRefusedError otherwise.
void OpenRunSession(ReportDatabase& db, const ConnectionSettings& settings, Caption& caption);

}  // namespace cuserver
