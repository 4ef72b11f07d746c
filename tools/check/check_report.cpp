#include "tools/check/check_report.h"

#include <cstdio>
#include <nlohmann/json.hpp>
#include <sstream>

#include "common/text.h"
#include "tools/check/server_ended.h"
#include "tools/console_text.h"
#include "tools/system_message.h"

namespace qel::tool {
namespace {

std::string Hex(int32_t number) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "0x%08X", static_cast<unsigned>(number));
  return buffer;
}

std::string Indented(const std::string& text) {
  std::string out = "  ";
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    out += text[i];
    if (text[i] == '\n' && i + 1 < text.size()) out += "  ";
  }
  if (!out.empty() && out.back() != '\n') out += '\n';
  return out;
}

const char* OrderName(PublishedOrder order) {
  switch (order) {
    case PublishedOrder::kNewer:
      return "newer";
    case PublishedOrder::kSame:
      return "same";
    case PublishedOrder::kOlder:
      return "older";
  }
  return "";
}

// "0x800706BA, RPC_S_SERVER_UNAVAILABLE"
std::string ServerEndedNumber(int32_t number) {
  const char* name = ServerEndedName(number);
  return Hex(number) + (name ? std::string(", ") + name : "");
}

std::string VersionText(int32_t major, int32_t minor, int32_t build) {
  return std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(build);
}

}  // namespace

std::optional<PublishedOrder> PublishedIs(const CheckReport& report) {
  // Values held after a failed check are no published version.
  if (!report.values || !report.hostVersion || report.error != 0) return std::nullopt;
  const PublishedValues& v = *report.values;
  const std::array<int32_t, 3> published{v.major, v.minor, v.build};
  if (published > *report.hostVersion) return PublishedOrder::kNewer;
  if (published < *report.hostVersion) return PublishedOrder::kOlder;
  return PublishedOrder::kSame;
}

std::string ReportJson(const CheckReport& report) {
  nlohmann::ordered_json json;
  json["error"] = report.error;
  json["description"] = TextToUtf8(report.description);
  if (report.values) {
    // After a failed check nothing was published: what the object still
    // holds came from no file of this check, and would read as a version.
    const bool published = report.error == 0;
    const auto value = [published](auto v) {
      return published ? nlohmann::ordered_json(v) : nlohmann::ordered_json(nullptr);
    };
    json["major"] = value(report.values->major);
    json["minor"] = value(report.values->minor);
    json["build"] = value(report.values->build);
    json["updateURL"] = value(TextToUtf8(report.values->updateURL));
    json["versionHistory"] = value(TextToUtf8(report.values->versionHistory));
    json["upgradeAvailable"] = report.upgradeAvailable ? value(*report.upgradeAvailable) : nullptr;
    const auto order = PublishedIs(report);
    json["publishedIs"] = order ? nlohmann::ordered_json(OrderName(*order)) : nullptr;
  }
  if (!report.explanation.empty()) json["explanation"] = report.explanation;
  return json.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

std::string ReportText(const CheckReport& report) {
  std::ostringstream out;
  switch (report.stage) {
    case CheckStage::kNoObject:
      out << "No update checker: " << ConsoleText(report.description) << " (" << Hex(report.error)
          << ")\n";
      return out.str();
    case CheckStage::kStartRefused:
      out << "The check was refused: " << ConsoleText(report.description) << " (error "
          << report.error << ", " << Hex(report.error) << ")\n";
      return out.str();
    case CheckStage::kTimedOut:
      out << "No answer: " << ConsoleText(report.description) << "\n";
      return out.str();
    case CheckStage::kServerEnded:
      out << "The update checker's server ended during the check (error "
          << ServerEndedNumber(report.error) << ")\nNothing was published by this check.\n";
      return out.str();
    case CheckStage::kCompleted:
      break;
  }
  if (report.error == 0) {
    out << "Check completed.\n";
  } else {
    out << "Check failed: error " << report.error << " (" << Hex(report.error) << ")\n  "
        << ConsoleText(report.description) << "\n";
    const std::string meaning = ComponentMessage(report.error);
    const std::string message = meaning.empty() ? SystemMessage(report.error) : meaning;
    if (!message.empty()) {
      out << (meaning.empty() ? "  System message: " : "  Meaning: ") << message << "\n";
    }
    for (const std::string& line : report.explanation) {
      out << "  Why: " << ConsoleText(line) << "\n";
    }
    // What the object still holds comes from no file of this check.
    out << "Nothing was published by this check.\n";
    return out.str();
  }
  if (report.values) {
    const PublishedValues& v = *report.values;
    out << "Published version: " << VersionText(v.major, v.minor, v.build) << "\n";
    out << "Update URL: " << ConsoleText(v.updateURL) << "\n";
    if (v.versionHistory.empty()) {
      out << "Version history: (none)\n";
    } else {
      out << "Version history:\n" << Indented(ConsoleText(v.versionHistory));
    }
  }
  if (report.upgradeAvailable) {
    out << "Upgrade available: "
        << (*report.upgradeAvailable ? "yes (the version differs)" : "no (the version is the same)")
        << "\n";
  }
  if (const auto order = PublishedIs(report)) {
    const auto& [major, minor, build] = *report.hostVersion;
    const char* relation = *order == PublishedOrder::kSame ? "the same as " : " than ";
    out << "Published version is " << (*order == PublishedOrder::kSame ? "" : OrderName(*order))
        << relation << VersionText(major, minor, build) << "\n";
  }
  return out.str();
}

int ExitStatus(const CheckReport& report) {
  if (report.stage != CheckStage::kCompleted || report.error != 0) return 2;
  return PublishedIs(report) == PublishedOrder::kNewer ? 1 : 0;
}

std::string FailureLine(const CheckReport& report) {
  const std::string number = std::to_string(report.error) + " (" + Hex(report.error) + ")";
  switch (report.stage) {
    case CheckStage::kNoObject:
      return "updatecheck: cannot create the update checker: " + number;
    case CheckStage::kStartRefused:
      return "updatecheck: StartCheck failed with error " + number + ": " +
             ConsoleText(report.description);
    case CheckStage::kTimedOut:
      return "updatecheck: " + ConsoleText(report.description);
    case CheckStage::kServerEnded:
      return "updatecheck: the update checker's server ended during the check: error " +
             std::to_string(report.error) + " (" + ServerEndedNumber(report.error) + ")";
    case CheckStage::kCompleted:
      break;
  }
  std::string line = "updatecheck: the check failed with error " + number;
  const std::string message = CheckErrorMessage(report.error);
  line += ": " + (message.empty() ? ConsoleText(report.description) : message);
  if (!report.explanation.empty()) line += ": " + ConsoleText(report.explanation.front());
  return line;
}

}  // namespace qel::tool
