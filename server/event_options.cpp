#include "server/event_options.h"

#include <fstream>

#include "server/cli_values.h"
#include "server/webhook_notifier.h"

namespace corvantis::server {

namespace {

[[noreturn]] void Bad(const std::string& option, const std::string& value,
                      const std::string& why = {}) {
  throw UsageError("bad " + option + ": " + value + (why.empty() ? "" : " (" + why + ")"));
}

// "HOST", "HOST:PORT", "[V6ADDR]:PORT" (a bare IPv6 address takes the default port).
void TakeBroker(const std::string& value, MqttSettings& mqtt) {
  std::string host = value;
  std::string port;
  if (!value.empty() && value.front() == '[') {
    const auto close = value.find(']');
    if (close == std::string::npos) Bad("--mqtt", value);
    host = value.substr(1, close - 1);
    const std::string rest = value.substr(close + 1);
    if (!rest.empty() && rest.front() != ':') Bad("--mqtt", value);
    if (!rest.empty()) port = rest.substr(1);
  } else if (const auto colon = value.find(':');
             colon != std::string::npos && value.find(':', colon + 1) == std::string::npos) {
    host = value.substr(0, colon);
    port = value.substr(colon + 1);
  }
  const auto number = port.empty() ? std::optional<uint16_t>(1883) : ParseNumber<uint16_t>(port);
  if (host.empty() || !number || *number == 0) Bad("--mqtt", value);
  mqtt.host = host;
  mqtt.port = *number;
}

std::string ReadPasswordFile(const std::string& file) {
  std::ifstream in(file);
  std::string line;
  if (!in || !std::getline(in, line)) {
    throw std::runtime_error("cannot read the MQTT password from " + file);
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

}  // namespace

bool TakeEventOption(const std::string& option, const std::string& value, ServerOptions& options) {
  auto seconds = [&] {
    const auto parsed = ParseSeconds(value);
    if (!parsed) Bad(option, value);
    return std::chrono::milliseconds(static_cast<int64_t>(*parsed * 1000));
  };
  NotifySettings& notify = options.notify;
  if (option == "--event-gap") {
    options.eventGap = seconds();
  } else if (option == "--keep-days") {
    const auto days = ParseNumber<int>(value);
    if (!days || *days < 0 || *days > 100000) Bad(option, value);
    options.retention.keepDays = *days;
  } else if (option == "--min-free") {
    const auto size = ParseSize(value);
    if (!size) Bad(option, value);
    options.retention.minFree = *size;
  } else if (option == "--mqtt") {
    TakeBroker(value, notify.mqtt);
  } else if (option == "--mqtt-user") {
    if (value.empty()) Bad(option, value);
    notify.mqtt.user = value;
  } else if (option == "--mqtt-password-file") {
    notify.mqtt.password = ReadPasswordFile(value);
  } else if (option == "--mqtt-prefix") {
    const bool wild = value.find_first_of("+#") != std::string::npos;
    if (value.empty() || wild || value.front() == '/' || value.back() == '/') {
      Bad(option, value, "no +, no #, no / at either end");
    }
    notify.mqtt.prefix = value;
  } else if (option == "--webhook") {
    if (auto problem = WebhookUrlProblem(value)) Bad(option, value, *problem);
    notify.webhook.url = value;
  } else if (option == "--on-event") {
    if (value.empty()) Bad(option, value);
    notify.command.command = value;
  } else if (option == "--on-event-timeout") {
    notify.command.timeout = seconds();
  } else {
    return false;
  }
  return true;
}

}  // namespace corvantis::server
