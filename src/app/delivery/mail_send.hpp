#pragma once

#include <atomic>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "app/delivery/delivery_settings.hpp"

namespace cuserver {

// One message: a plain text and the workbooks attached.
struct MailMessage {
  std::string subject;  // UTF-8; sent encoded (RFC 2047)
  std::string body;     // UTF-8 plain text
  std::vector<std::filesystem::path> attachments;  // XLSX workbooks
};

// Hands the message to the server of SmtpUrl through libcurl, from From to
// every address of To: on smtp:// with STARTTLS when the server offers it,
// on smtps:// over TLS from the start; with a login when SmtpUser is set.
// Gives up on a server that does not connect within 30 s or take the
// message within 5 minutes, or at once when `abandon` turns true (a service
// that stops). Throws SendError naming the server and the reason.
void SendMail(const DeliverySettings& settings, const MailMessage& message,
              const std::atomic<bool>* abandon = nullptr);

// The text as RFC 2047 encoded words (UTF-8, base64), each within the 75
// characters the RFC allows; plain ASCII without specials stays as it is.
std::string EncodedHeaderText(std::string_view text);

// The URL without a user or password written into it, for messages.
std::string ShownServer(std::string_view url);

}  // namespace cuserver
