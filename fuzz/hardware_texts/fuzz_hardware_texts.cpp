// SPDX-License-Identifier: GPL-2.0-or-later
// Model, firmware and serial texts come from the enclosure and its drives, and a log line may carry
// any of them: whatever bytes they hold, the texts read from the device's fields and the log
// lines made of them hold no control byte, and text without one comes back as it was; the
// metrics file must stay one sample per line in valid UTF-8 that a Prometheus reader accepts,
// with every label value saying what the hardware said (a byte that is not UTF-8, or a control
// character, as U+FFFD), and the monitor's events must be built from any lines without reading
// past them.
#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/bytes.h"
#include "events/monitor_events.h"
#include "monitor/metrics_text.h"
#include "status/controller_status.h"
#include "status/device_information.h"

namespace {

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

// The length of the UTF-8 sequence at `at`, or 0 when none starts there.
std::size_t SequenceLength(std::string_view text, std::size_t at) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  std::size_t length = 0;
  char32_t code = 0;
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    code = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    code = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    code = lead & 0x07;
  } else {
    return 0;
  }
  if (at + length > text.size()) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) return 0;
    code = (code << 6) | (byte(at + i) & 0x3F);
  }
  const bool overlong = (length == 3 && code < 0x800) || (length == 4 && code < 0x10000);
  if (overlong || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  return length;
}

bool IsCleanText(std::string_view text) {
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t length = SequenceLength(text, at);
    if (length == 0) return false;
    if (length == 1 && (static_cast<unsigned char>(text[at]) < 0x20 || text[at] == 0x7F))
      return false;
    at += length;
  }
  return true;
}

// The values of the line's labels, unescaped; traps on a malformed label set.
std::vector<std::string> LabelValues(std::string_view line) {
  std::vector<std::string> values;
  std::size_t at = line.find('{');
  if (at == std::string_view::npos) return values;
  ++at;
  while (at < line.size() && line[at] != '}') {
    const std::size_t equals = line.find("=\"", at);
    Check(equals != std::string_view::npos);
    for (std::size_t i = at; i < equals; ++i)
      Check((line[i] >= 'a' && line[i] <= 'z') || line[i] == '_');
    std::string value;
    std::size_t i = equals + 2;
    for (;; ++i) {
      Check(i < line.size());
      if (line[i] == '"') break;
      if (line[i] == '\\') {
        Check(i + 1 < line.size());
        const char escaped = line[++i];
        Check(escaped == '\\' || escaped == '"' || escaped == 'n');
        value += escaped == 'n' ? '\n' : escaped;
      } else {
        value += line[i];
      }
    }
    values.push_back(value);
    at = i + 1;
    if (at < line.size() && line[at] == ',') ++at;
  }
  Check(at < line.size() && line[at] == '}' && at + 1 < line.size() && line[at + 1] == ' ');
  return values;
}

bool HasControlByte(std::string_view text) {
  return std::any_of(text.begin(), text.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; });
}

// The texts as the enclosure and its drive report them, in their fields (zero-filled, so that a
// shorter text ends there), read as the program reads them.
void CheckDeviceFields(const std::vector<std::string>& texts) {
  raid::IdentificationBlock block{};
  raid::WriteSwappedText(block, raid::kIdModelText, raid::kIdModelLength, texts[0], '\0');
  raid::WriteSwappedText(block, raid::kIdFirmwareRevision, 8, texts[1], '\0');
  raid::ControllerStatus record;
  record.bytes[raid::status_layout::kDriveFlags] = raid::kBothPresent;
  raid::WriteSwappedText(record.bytes, raid::status_layout::kModel,
                         raid::status_layout::kModelLength, texts[2], '\0');
  raid::WriteSwappedText(record.bytes, raid::status_layout::kSerial,
                         raid::status_layout::kSerialLength, texts[3], '\0');
  for (const std::string& line : raid::DeviceInformationBlock(0, block, record))
    Check(!HasControlByte(line));
  const std::string serial = texts[3].substr(0, raid::status_layout::kSerialLength);
  Check(!HasControlByte(record.DriveSerial(0)));
  Check(HasControlByte(serial) || record.DriveSerial(0) == serial);
  Check(!HasControlByte(record.DriveModel(0)));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Input: up to five texts separated by 0x00: the enclosure's model, its firmware text, a drive's
  // model, its serial and a log line.
  std::vector<std::string> texts(5);
  std::size_t field = 0;
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == 0 && field + 1 < texts.size()) {
      ++field;
    } else {
      texts[field] += static_cast<char>(data[i]);
    }
  }

  CheckDeviceFields(texts);

  raid::MetricsSnapshot snapshot;
  snapshot.enclosures_found = 1;
  raid::MetricsEnclosure enclosure;
  enclosure.physical_drive = 1;
  enclosure.model = texts[0];
  enclosure.firmware = texts[1];
  enclosure.answered = true;
  enclosure.drives[0] = {raid::kDrivePresent, 1953525168, texts[2], texts[3]};
  snapshot.enclosures.push_back(enclosure);
  const std::string metrics = raid::BuildMetricsText(snapshot);

  Check(!metrics.empty() && metrics.back() == '\n');
  std::size_t found_texts = 0;
  for (std::size_t start = 0; start < metrics.size();) {
    const std::size_t end = metrics.find('\n', start);
    const std::string_view line(metrics.data() + start, end - start);
    start = end + 1;
    Check(IsCleanText(line));
    if (line.empty() || line[0] == '#') continue;
    for (const std::string& value : LabelValues(line)) {
      for (std::size_t t = 0; t < 4; ++t) {
        // Text that was clean already comes back as it was.
        if (value == texts[t] && IsCleanText(texts[t])) ++found_texts;
      }
    }
  }
  std::size_t clean = 0;
  for (std::size_t t = 0; t < 4; ++t)
    clean += IsCleanText(texts[t]) && !texts[t].empty() ? 1 : 0;
  Check(found_texts >= clean);

  const std::vector<raid::MonitorEvent> events = raid::BuildMonitorEvents(
      {texts[4], "D1 Device was removed.", texts[4]},
      {{raid::AlertKind::kHardDisksFail, 0, 1}, {raid::AlertKind::kDeviceRemoved, 0, 0}},
      std::chrono::system_clock::time_point{});
  Check(!events.empty() && events.size() <= 5);
  for (const raid::MonitorEvent& event : events) {
    Check(event.enclosure >= 1);
    Check(!event.port || *event.port == 1 || *event.port == 2);
  }
  return 0;
}
