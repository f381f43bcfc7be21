#include "app/delivery/mail_send.hpp"

#include <curl/curl.h>
#include <fmt/format.h>
#include <fmt/ranges.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <mutex>

#include "app/errors.hpp"
#include "db/ledger.hpp"
#include "reports/translate.hpp"

namespace cuserver {
namespace {

constexpr long kConnectSeconds = 30;
constexpr long kSendSeconds = 300;
constexpr const char* kXlsxType = "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet";

std::string Base64(std::string_view bytes) {
  static constexpr char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    unsigned value = static_cast<unsigned char>(bytes[i]) << 16;
    if (i + 1 < bytes.size()) value |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    if (i + 2 < bytes.size()) value |= static_cast<unsigned char>(bytes[i + 2]);
    out += kDigits[(value >> 18) & 63];
    out += kDigits[(value >> 12) & 63];
    out += i + 1 < bytes.size() ? kDigits[(value >> 6) & 63] : '=';
    out += i + 2 < bytes.size() ? kDigits[value & 63] : '=';
  }
  return out;
}

// "Thu, 19 Mar 2014 02:10:00 +0800" (RFC 5322), in the C locale's names.
std::string MailDate() {
  static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  const long offsetMinutes = local.tm_gmtoff / 60;
  return fmt::format("{}, {:02} {} {} {:02}:{:02}:{:02} {}{:02}{:02}", kDays[local.tm_wday], local.tm_mday,
                     kMonths[local.tm_mon], local.tm_year + 1900, local.tm_hour, local.tm_min, local.tm_sec,
                     offsetMinutes < 0 ? '-' : '+', std::labs(offsetMinutes) / 60, std::labs(offsetMinutes) % 60);
}

std::string MessageId() {
  static std::atomic<long> sequence{0};
  return fmt::format("<cuserver.{}.{}.{}@{}>", std::time(nullptr), ::getpid(), ++sequence, HostName());
}

struct CurlCleanup {
  void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
  void operator()(curl_mime* mime) const { curl_mime_free(mime); }
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

void Append(std::unique_ptr<curl_slist, CurlCleanup>& list, const std::string& line) {
  curl_slist* longer = curl_slist_append(list.get(), line.c_str());
  if (longer == nullptr) throw std::bad_alloc();
  (void)list.release();
  list.reset(longer);
}

int AbandonWhenSet(void* abandon, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  return static_cast<const std::atomic<bool>*>(abandon)->load() ? 1 : 0;
}

}  // namespace

std::string EncodedHeaderText(std::string_view text) {
  const bool plain = std::all_of(text.begin(), text.end(), [](char c) {
    return c >= 0x20 && c < 0x7f && c != '=' && c != '?';
  });
  if (plain) return std::string(text);
  // 45 bytes make 60 base64 digits, and "=?UTF-8?B?" and "?=" 12 more: 72.
  std::vector<std::string> words;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = std::min(start + 45, text.size());
    while (end < text.size() && end > start + 1 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    words.push_back("=?UTF-8?B?" + Base64(text.substr(start, end - start)) + "?=");
    start = end;
  }
  return fmt::format("{}", fmt::join(words, " "));
}

std::string ShownServer(std::string_view url) {
  const std::size_t scheme = url.find("://");
  if (scheme == std::string_view::npos) return std::string(url);
  const std::size_t hostStart = scheme + 3;
  const std::size_t at = url.find('@', hostStart);
  const std::size_t slash = url.find('/', hostStart);
  if (at == std::string_view::npos || (slash != std::string_view::npos && at > slash)) return std::string(url);
  return std::string(url.substr(0, hostStart)) + std::string(url.substr(at + 1));
}

void SendMail(const DeliverySettings& settings, const MailMessage& message, const std::atomic<bool>* abandon) {
  static std::once_flag initialised;
  std::call_once(initialised, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
  const std::string server = ShownServer(settings.smtpUrl);

  std::unique_ptr<CURL, CurlCleanup> curl(curl_easy_init());
  if (!curl) throw SendError(TrFormat("the mail was not sent to {}: libcurl cannot start", server));
  CURL* handle = curl.get();
  std::unique_ptr<curl_slist, CurlCleanup> recipients;
  for (const std::string& address : settings.to) Append(recipients, "<" + address + ">");
  std::unique_ptr<curl_slist, CurlCleanup> headers;
  Append(headers, "Date: " + MailDate());
  Append(headers, "From: " + settings.from);
  Append(headers, fmt::format("To: {}", fmt::join(settings.to, ", ")));
  Append(headers, "Subject: " + EncodedHeaderText(message.subject));
  Append(headers, "Message-ID: " + MessageId());

  std::unique_ptr<curl_mime, CurlCleanup> mime(curl_mime_init(handle));
  curl_mimepart* text = curl_mime_addpart(mime.get());
  curl_mime_data(text, message.body.data(), message.body.size());
  curl_mime_type(text, "text/plain; charset=UTF-8");
  curl_mime_encoder(text, "base64");
  for (const std::filesystem::path& file : message.attachments) {
    curl_mimepart* part = curl_mime_addpart(mime.get());
    if (curl_mime_filedata(part, file.c_str()) != CURLE_OK) {
      throw SendError(TrFormat("the mail was not sent to {}: attachment {} cannot be read", server, file.string()));
    }
    curl_mime_type(part, kXlsxType);
    curl_mime_encoder(part, "base64");
  }

  char errorText[CURL_ERROR_SIZE] = {};
  curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, errorText);
  curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(handle, CURLOPT_URL, settings.smtpUrl.c_str());
  // smtp://: STARTTLS when the server offers it; smtps:// is TLS throughout.
  curl_easy_setopt(handle, CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_TRY));
  if (!settings.smtpUser.empty()) {
    curl_easy_setopt(handle, CURLOPT_USERNAME, settings.smtpUser.c_str());
    curl_easy_setopt(handle, CURLOPT_PASSWORD, settings.smtpPassword.c_str());
  }
  const std::string envelopeFrom = "<" + settings.from + ">";
  curl_easy_setopt(handle, CURLOPT_MAIL_FROM, envelopeFrom.c_str());
  curl_easy_setopt(handle, CURLOPT_MAIL_RCPT, recipients.get());
  curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headers.get());
  curl_easy_setopt(handle, CURLOPT_MIMEPOST, mime.get());
  curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT, kConnectSeconds);
  curl_easy_setopt(handle, CURLOPT_TIMEOUT, kSendSeconds);
  if (abandon != nullptr) {
    curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, &AbandonWhenSet);
    curl_easy_setopt(handle, CURLOPT_XFERINFODATA, const_cast<std::atomic<bool>*>(abandon));
  }

  const CURLcode code = curl_easy_perform(handle);
  if (code == CURLE_OK) return;
  long reply = 0;
  curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &reply);
  std::string reason = curl_easy_strerror(code);
  if (errorText[0] != '\0' && reason != errorText) reason += fmt::format(" ({})", errorText);
  if (reply != 0) reason += TrFormat(", the server answered {}", reply);
  throw SendError(TrFormat("the mail was not sent to {}: {}", server, reason));
}

}  // namespace cuserver
