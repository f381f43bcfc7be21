#pragma once

#include <chrono>
#include <filesystem>
#include <vector>

#include "app/delivery/delivery_settings.hpp"
#include "app/delivery/mail_send.hpp"
#include "app/report_files.hpp"
#include "db/session.hpp"

namespace cuserver {

// The sheets of a delivery: the period's summary per vehicle first when
// Reports holds it, then one per kind of Reports, in AllReportKinds() order,
// each holding every vehicle's rows of the period. Read on sessions of their
// own that write nothing; throws ConnectionRefusedError and DatabaseError.
std::vector<ReportSheet> DeliverySheets(const ConnectionSettings& connection, const DeliverySettings& settings,
                                        const DeliveryPeriod& period);

// Writes the workbook of the sheets into the folder (made when missing) under
// the period's file name, through a temporary file renamed into place, so
// that a reader never sees half a file. Returns its path. Throws
// CannotRunError naming the file when it cannot be written.
std::filesystem::path WriteDeliveryFile(const std::filesystem::path& folder, const DeliveryPeriod& period,
                                        const std::vector<ReportSheet>& sheets,
                                        std::chrono::system_clock::time_point made);

// The message that carries a delivery's workbook: the subject names the
// period, the text the reports it holds.
MailMessage DeliveryMail(const DeliverySettings& settings, const DeliveryPeriod& period,
                         const std::filesystem::path& file);

}  // namespace cuserver
