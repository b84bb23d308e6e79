// SPDX-License-Identifier: GPL-2.0-or-later
// Scenario files: JSON with defaults for everything but what a scenario wants to change. Errors
// name the field by its path (drives[1].members[0].capacity) and say what was wrong.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <limits>
#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <unordered_set>
#include <utility>

#include <nlohmann/json.hpp>

#include "common/platform_files.h"
#include "json_shape.h"
#include "scenario.h"

namespace raid::sim {
namespace {

using nlohmann::json;

// Thrown inside the parser only; ParseScenario turns it into an error value.
struct FieldError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

[[noreturn]] void Fail(const std::string& path, const std::string& what) {
  throw FieldError(path + ": " + what);
}

std::string Shown(const json& value) {
  std::string text = value.dump();
  if (text.size() > 40) text = text.substr(0, 37) + "...";
  return text;
}

std::uint64_t ToUnsigned(const json& value, const std::string& path, std::uint64_t max) {
  std::uint64_t result = 0;
  if (value.is_number_unsigned()) {
    result = value.get<std::uint64_t>();
  } else if (value.is_number_integer()) {
    Fail(path, "must not be negative, got " + Shown(value));
  } else if (value.is_string()) {
    const std::string text = value.get<std::string>();
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    if (!hex || text.size() > 18 || !std::all_of(text.begin() + 2, text.end(), [](char c) {
          return std::isxdigit(static_cast<unsigned char>(c)) != 0;
        })) {
      Fail(path, "expected a number or a \"0x..\" hex string, got " + Shown(value));
    }
    result = std::stoull(text.substr(2), nullptr, 16);
  } else {
    Fail(path, "expected a whole number or a \"0x..\" hex string, got " + Shown(value));
  }
  if (result > max)
    Fail(path, std::to_string(result) + " is above the limit " + std::to_string(max));
  return result;
}

// "4E 57 0d0a": pairs of hex digits, blanks allowed between pairs.
std::optional<std::string> BytesFromHex(const std::string& text) {
  const auto hex_digit = [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; };
  std::string bytes;
  for (std::size_t i = 0; i < text.size();) {
    if (text[i] == ' ') {
      ++i;
      continue;
    }
    if (i + 1 >= text.size() || !hex_digit(text[i]) || !hex_digit(text[i + 1])) return std::nullopt;
    bytes += static_cast<char>(std::stoi(text.substr(i, 2), nullptr, 16));
    i += 2;
  }
  return bytes;
}

// One JSON object: hands out its fields and, at the end, rejects any it did not use.
class Fields {
 public:
  Fields(const json& value, std::string path) : value_(value), path_(std::move(path)) {
    if (!value_.is_object()) Fail(path_, "expected an object, got " + Shown(value_));
  }

  std::string PathOf(const std::string& key) const {
    return path_.empty() ? key : path_ + "." + key;
  }
  const std::string& path() const { return path_; }

  const json* Find(const std::string& key) {
    used_.insert(key);
    auto it = value_.find(key);
    return it == value_.end() ? nullptr : &*it;
  }
  const json& Require(const std::string& key) {
    const json* found = Find(key);
    if (!found) Fail(PathOf(key), "is required");
    return *found;
  }

  template <typename T>
  void Unsigned(const std::string& key, T& out, std::uint64_t max = std::numeric_limits<T>::max()) {
    if (const json* v = Find(key)) out = static_cast<T>(ToUnsigned(*v, PathOf(key), max));
  }
  template <typename T>
  void Unsigned(const std::string& key, std::optional<T>& out,
                std::uint64_t max = std::numeric_limits<T>::max()) {
    if (const json* v = Find(key)) out = static_cast<T>(ToUnsigned(*v, PathOf(key), max));
  }
  void Bool(const std::string& key, bool& out) {
    if (const json* v = Find(key)) {
      if (!v->is_boolean()) Fail(PathOf(key), "expected true or false, got " + Shown(*v));
      out = v->get<bool>();
    }
  }
  void Text(const std::string& key, std::string& out, std::size_t max_length) {
    if (const json* v = Find(key)) {
      if (!v->is_string()) Fail(PathOf(key), "expected a string, got " + Shown(*v));
      out = v->get<std::string>();
      if (out.size() > max_length) {
        Fail(PathOf(key), "longer than " + std::to_string(max_length) + " characters");
      }
    }
  }
  // A text the device reports (a model, serial, firmware or INQUIRY text): a string under `key`,
  // or any bytes at all under `key` + "_hex", so that a scenario can give what a device's
  // firmware might: control bytes, zero bytes, bytes that are not UTF-8.
  void DeviceText(const std::string& key, std::string& out, std::size_t max_length) {
    const std::string hex_key = key + "_hex";
    const json* hex = Find(hex_key);
    if (hex && value_.contains(key)) Fail(PathOf(hex_key), "give either " + key + " or " + hex_key);
    Text(key, out, max_length);
    if (!hex) return;
    const std::optional<std::string> bytes =
        hex->is_string() ? BytesFromHex(hex->get<std::string>()) : std::nullopt;
    if (!bytes) {
      Fail(PathOf(hex_key),
           "expected bytes as pairs of hex digits (\"0D 0A 1B\"), got " + Shown(*hex));
    }
    if (bytes->size() > max_length) {
      Fail(PathOf(hex_key), "longer than " + std::to_string(max_length) + " bytes");
    }
    out = *bytes;
  }
  void Fraction(const std::string& key, double& out) {
    if (const json* v = Find(key)) {
      if (!v->is_number() || v->get<double>() < 0.0 || v->get<double>() > 1.0) {
        Fail(PathOf(key), "expected a number from 0 to 1, got " + Shown(*v));
      }
      out = v->get<double>();
    }
  }
  const json* Array(const std::string& key) {
    const json* v = Find(key);
    if (v && !v->is_array()) Fail(PathOf(key), "expected an array, got " + Shown(*v));
    return v;
  }

  void Finish() const {
    for (auto it = value_.begin(); it != value_.end(); ++it) {
      if (!used_.count(it.key())) Fail(PathOf(it.key()), "unknown field");
    }
  }

 private:
  const json& value_;
  std::string path_;
  std::set<std::string> used_;
};

std::string Index(const std::string& path, std::size_t i) {
  return path + "[" + std::to_string(i) + "]";
}

// A name from `names`, or a number.
template <typename T>
T NamedOrNumber(const json& value, const std::string& path, const std::map<std::string, T>& names,
                std::uint64_t max) {
  if (value.is_string()) {
    auto it = names.find(value.get<std::string>());
    if (it != names.end()) return it->second;
    const std::string text = value.get<std::string>();
    if (text.rfind("0x", 0) != 0 && text.rfind("0X", 0) != 0) {
      std::string known;
      for (const auto& [name, unused] : names)
        known += (known.empty() ? "" : ", ") + name;
      Fail(path, "unknown name " + Shown(value) + " (one of: " + known + ", or a number)");
    }
  }
  return static_cast<T>(ToUnsigned(value, path, max));
}

const std::map<std::string, std::uint8_t> kModeNames = {{"jbod", kModeJbod},
                                                        {"striping", kModeStriping},
                                                        {"mirroring", kModeMirroring},
                                                        {"bypass", kModeBypass}};
const std::map<std::string, std::uint8_t> kStateNames = {{"in_array", kPortInArray},
                                                         {"rebuilding", kPortRebuildTarget},
                                                         {"new", kPortNewlyInserted},
                                                         {"too_small", kPortTooSmall},
                                                         {"absent", kPortAbsentDefault}};
const std::map<std::string, DriveType> kDriveTypeNames = {
    {"unknown", DriveType::kUnknown},     {"no_root_dir", DriveType::kNoRootDir},
    {"removable", DriveType::kRemovable}, {"fixed", DriveType::kFixed},
    {"remote", DriveType::kRemote},       {"cdrom", DriveType::kCdRom},
    {"ramdisk", DriveType::kRamDisk}};

std::uint8_t ParseState(const json& value, const std::string& path) {
  return NamedOrNumber(value, path, kStateNames, 0xFF);
}

unsigned ParsePort(Fields& f) {
  unsigned port = 0;
  f.Require("port");
  f.Unsigned("port", port, 1);
  return port;
}

// [ { "lba": 17, "times": 2 } ]
std::vector<FaultSpec::LbaFailure> ParseLbaFaults(Fields& f, const std::string& key) {
  std::vector<FaultSpec::LbaFailure> faults;
  if (const json* list = f.Array(key)) {
    for (std::size_t i = 0; i < list->size(); ++i) {
      Fields item((*list)[i], Index(f.PathOf(key), i));
      FaultSpec::LbaFailure failure;
      item.Require("lba");
      item.Unsigned("lba", failure.lba);
      item.Unsigned("times", failure.times);
      item.Finish();
      faults.push_back(failure);
    }
  }
  return faults;
}

FaultSpec ParseFaults(const json& value, const std::string& path, std::uint64_t seed) {
  Fields f(value, path);
  FaultSpec faults;
  faults.seed = seed;
  f.Unsigned("fail_next_reads", faults.fail_next_reads);
  faults.fail_reads_at = ParseLbaFaults(f, "fail_reads_at");
  faults.unit_attention_at = ParseLbaFaults(f, "unit_attention_at");
  if (const json* list = f.Array("hold_reads")) {
    for (std::size_t i = 0; i < list->size(); ++i) {
      Fields item((*list)[i], Index(f.PathOf("hold_reads"), i));
      FaultSpec::ReadHold hold;
      item.Unsigned("lba", hold.lba);
      item.Require("ms");
      item.Unsigned("ms", hold.ms);
      item.Unsigned("times", hold.times);
      item.Finish();
      faults.hold_reads.push_back(hold);
    }
  }
  f.Unsigned("read_latency_us", faults.read_latency_us);
  f.Fraction("read_failure_rate", faults.read_failure_rate);
  f.Unsigned("seed", faults.seed);
  f.Unsigned("vanish_after_reads", faults.vanish_after_reads);
  f.Unsigned("answer_delay_ms", faults.answer_delay_ms);
  f.Bool("never_answer", faults.never_answer);
  f.Bool("wrong_second_signature", faults.wrong_second_signature);
  if (const json* forced = f.Find("force_status")) {
    Fields item(*forced, f.PathOf("force_status"));
    FaultSpec::ForcedStatus status;
    item.Require("status");
    item.Unsigned("status", status.status);
    status.count = 1;
    item.Unsigned("count", status.count);
    item.Finish();
    faults.force_status = status;
  }
  if (const json* list = f.Array("flash_failures")) {
    for (std::size_t i = 0; i < list->size(); ++i) {
      Fields item((*list)[i], Index(f.PathOf("flash_failures"), i));
      FaultSpec::FlashFailure failure;
      item.Require("address");
      item.Unsigned("address", failure.address, 0x7FFFFF);
      item.Unsigned("times", failure.times);
      item.Finish();
      faults.flash_failures.push_back(failure);
    }
  }
  f.Bool("lying_flash_writes", faults.lying_flash_writes);
  if (const json* list = f.Array("drive_command_faults")) {
    for (std::size_t i = 0; i < list->size(); ++i) {
      Fields item((*list)[i], Index(f.PathOf("drive_command_faults"), i));
      FaultSpec::DriveCommandFault fault;
      item.Unsigned("opcode", fault.opcode);
      if (fault.opcode != 0xB1 && fault.opcode != 0xB2) {
        Fail(item.PathOf("opcode"), "drive commands are 0xB1 and 0xB2");
      }
      item.Unsigned("feature", fault.feature);
      item.Unsigned("part", fault.part, 4);
      if (const json* echo = item.Array("echo")) {
        if (echo->size() != 2) Fail(item.PathOf("echo"), "expected two bytes");
        fault.echo = {
            static_cast<std::uint8_t>(ToUnsigned((*echo)[0], Index(item.PathOf("echo"), 0), 0xFF)),
            static_cast<std::uint8_t>(ToUnsigned((*echo)[1], Index(item.PathOf("echo"), 1), 0xFF))};
      }
      item.Unsigned("times", fault.times);
      item.Finish();
      faults.drive_command_faults.push_back(fault);
    }
  }
  f.Finish();
  return faults;
}

SmartAttributeSpec ParseAttribute(const json& value, const std::string& path) {
  Fields f(value, path);
  SmartAttributeSpec a;
  f.Require("id");
  f.Unsigned("id", a.id);
  if (a.id == 0) Fail(f.PathOf("id"), "0 marks an empty slot; attribute ids start at 1");
  f.Unsigned("current", a.current);
  a.worst = a.current;
  f.Unsigned("worst", a.worst);
  f.Unsigned("raw", a.raw, 0xFFFFFFFFFFFFULL);
  f.Unsigned("threshold", a.threshold);
  f.Unsigned("flags", a.flags);
  f.Finish();
  return a;
}

// A member drive; fills `state` when the object names one.
MemberSpec ParseMember(const json& value, const std::string& path, MemberSpec member,
                       std::uint8_t* state) {
  Fields f(value, path);
  f.DeviceText("model", member.model, 40);
  f.DeviceText("serial", member.serial, 20);
  f.DeviceText("firmware", member.firmware, 8);
  f.Unsigned("capacity", member.capacity, 0xFFFFFFFFFFFFULL);
  f.Unsigned("word106", member.word106);
  if (const json* s = f.Find("state")) {
    if (!state) Fail(f.PathOf("state"), "not allowed here; give the state next to the member");
    *state = ParseState(*s, f.PathOf("state"));
  }
  if (const json* smart = f.Find("smart")) {
    Fields sf(*smart, f.PathOf("smart"));
    sf.Bool("replace_defaults", member.smart_replace_defaults);
    if (const json* list = sf.Array("attributes")) {
      if (list->size() > 30) Fail(sf.PathOf("attributes"), "a SMART table holds 30 attributes");
      for (std::size_t i = 0; i < list->size(); ++i) {
        member.smart_attributes.push_back(
            ParseAttribute((*list)[i], Index(sf.PathOf("attributes"), i)));
      }
    }
    sf.Finish();
  }
  f.Finish();
  return member;
}

EnclosureSpec ParseEnclosure(Fields& f, std::uint64_t seed) {
  EnclosureSpec config;
  if (const json* kind = f.Find("kind")) {
    const std::string path = f.PathOf("kind");
    if (!kind->is_string() || (*kind != "raid" && *kind != "port_multiplier")) {
      Fail(path, "expected \"raid\" or \"port_multiplier\", got " + Shown(*kind));
    }
    if (*kind == "port_multiplier") config = EnclosureSpec::PortMultiplier();
  }
  if (const json* mode = f.Find("mode")) {
    config.raw_mode = NamedOrNumber(*mode, f.PathOf("mode"), kModeNames, 0xFF);
  }
  if (const json* revision = f.Array("revision")) {
    if (revision->size() != 8) Fail(f.PathOf("revision"), "expected exactly 8 bytes");
    for (std::size_t i = 0; i < 8; ++i) {
      config.revision[i] = static_cast<std::uint8_t>(
          ToUnsigned((*revision)[i], Index(f.PathOf("revision"), i), 0xFF));
    }
  }
  if (const json* bit = f.Find("port_order_bit")) {
    if (!bit->is_boolean()) Fail(f.PathOf("port_order_bit"), "expected true or false");
    config.revision[3] = static_cast<std::uint8_t>(bit->get<bool>() ? config.revision[3] | 0x10
                                                                    : config.revision[3] & ~0x10);
  }
  f.DeviceText("model_text", config.model_text, 40);
  f.Unsigned("array_capacity", config.array_capacity, 0xFFFFFFFFFFFFULL);
  f.Bool("sensors", config.sensors);
  f.Unsigned("fan_rpm", config.fan_rpm);
  f.Unsigned("temperature", config.temperature);
  f.DeviceText("vendor", config.vendor, 8);
  f.DeviceText("product", config.product, 16);
  f.DeviceText("product_revision", config.product_revision, 4);
  f.Unsigned("firmware_type", config.firmware_type);
  f.Unsigned("flash_image_size", config.flash_image_size, 0x800000);
  f.Unsigned("answer_delay_ms", config.answer_delay_ms);
  f.Unsigned("absent_state", config.absent_state);
  f.Unsigned("disk_capacity", config.disk_capacity, 0xFFFFFFFFULL);
  if (const json* members = f.Array("members")) {
    if (members->size() != 2) {
      Fail(f.PathOf("members"), "expected 2 entries (HDD1, HDD2; null for an empty bay)");
    }
    for (unsigned port = 0; port < 2; ++port) {
      const json& m = (*members)[port];
      const std::string path = Index(f.PathOf("members"), port);
      if (m.is_null()) {
        config.members[port].reset();
        continue;
      }
      config.members[port] =
          ParseMember(m, path, EnclosureSpec::DefaultMember(port), &config.port_states[port]);
    }
  }
  if (const json* rebuild = f.Find("rebuild")) {
    Fields rf(*rebuild, f.PathOf("rebuild"));
    RebuildSpec r;
    r.port = ParsePort(rf);
    rf.Require("duration_ms");
    rf.Unsigned("duration_ms", r.duration_ms);
    rf.Finish();
    if (!config.members[r.port]) Fail(rf.PathOf("port"), "names an empty bay");
    config.rebuild = r;
  }
  config.faults.seed = seed;
  if (const json* faults = f.Find("faults")) {
    config.faults = ParseFaults(*faults, f.PathOf("faults"), seed);
  }
  return config;
}

PlainDiskSpec ParseDisk(Fields& f, std::uint64_t seed) {
  PlainDiskSpec config;
  f.DeviceText("vendor", config.vendor, 8);
  f.DeviceText("product", config.product, 16);
  f.DeviceText("product_revision", config.product_revision, 4);
  f.Unsigned("capacity", config.capacity, 0xFFFFFFFFULL);
  config.faults.seed = seed;
  if (const json* faults = f.Find("faults")) {
    config.faults = ParseFaults(*faults, f.PathOf("faults"), seed);
  }
  return config;
}

// A drive entry; `number` is read by the caller when the entry has one.
DriveSpec ParseDrive(Fields& f, std::uint64_t seed) {
  const json& type = f.Require("type");
  DriveSpec drive;
  if (type == "enclosure") {
    drive.device = ParseEnclosure(f, seed);
  } else if (type == "disk") {
    drive.device = ParseDisk(f, seed);
  } else {
    Fail(f.PathOf("type"), "expected \"enclosure\" or \"disk\", got " + Shown(type));
  }
  f.Bool("openable", drive.openable);
  f.Bool("busy", drive.busy);
  f.Finish();
  return drive;
}

VolumeSpec ParseVolume(const json& value, const std::string& path) {
  Fields f(value, path);
  VolumeSpec volume;
  const json& name = f.Require("name");
  if (!name.is_string() || name.get<std::string>().empty()) {
    Fail(f.PathOf("name"), "expected a non-empty string, got " + Shown(name));
  }
  volume.name = name.get<std::string>();
  if (const json* type = f.Find("drive_type")) {
    volume.drive_type = NamedOrNumber(*type, f.PathOf("drive_type"), kDriveTypeNames, 6);
  }
  bool spans = false;
  f.Bool("spans_several_disks", spans);
  if (f.Find("disk") != nullptr) {
    if (spans) Fail(f.PathOf("disk"), "a volume spanning several disks has no single disk");
    DiskExtent extent;
    f.Unsigned("disk", extent.disk_number, kMaxDrives - 1);
    f.Unsigned("offset", extent.starting_offset);
    f.Unsigned("length", extent.extent_length);
    volume.extent = extent;
  } else if (f.Find("offset") || f.Find("length")) {
    Fail(f.PathOf("disk"), "is required when offset or length is given");
  }
  f.Bool("openable", volume.openable);
  f.Finish();
  return volume;
}

std::uint64_t ParseTime(Fields& f, const char* ms_key, const char* s_key) {
  const json* ms = f.Find(ms_key);
  const json* s = f.Find(s_key);
  if (ms && s) Fail(f.PathOf(ms_key), std::string("give either ") + ms_key + " or " + s_key);
  if (ms) return ToUnsigned(*ms, f.PathOf(ms_key), ~std::uint64_t{0});
  if (s) {
    if (!s->is_number() || s->get<double>() < 0) {
      Fail(f.PathOf(s_key), "expected a number of seconds, got " + Shown(*s));
    }
    return static_cast<std::uint64_t>(std::llround(s->get<double>() * 1000.0));
  }
  Fail(f.PathOf(ms_key), std::string("is required (or ") + s_key + ")");
}

class TimelineParser {
 public:
  TimelineParser(const Scenario& scenario, std::uint64_t seed) : seed_(seed) {
    for (const auto& [number, drive] : scenario.drives) {
      enclosure_[number] = std::holds_alternative<EnclosureSpec>(drive.device);
    }
  }

  TimelineEvent Parse(const json& value, const std::string& path) {
    Fields f(value, path);
    TimelineEvent event;
    event.at_ms = ParseTime(f, "at_ms", "at_s");
    f.Require("drive");
    f.Unsigned("drive", event.drive, kMaxDrives - 1);
    const json& name = f.Require("action");
    if (!name.is_string()) Fail(f.PathOf("action"), "expected a string, got " + Shown(name));
    const std::string action = name.get<std::string>();
    const bool is_enclosure = enclosure_.count(event.drive) && enclosure_[event.drive];
    auto need_enclosure = [&] {
      if (!is_enclosure) {
        Fail(f.PathOf("action"), "\"" + action + "\" needs an enclosure, and drive " +
                                     std::to_string(event.drive) + " is not one");
      }
    };
    if (action == "pull_drive") {
      need_enclosure();
      event.action = action::PullMember{ParsePort(f)};
    } else if (action == "insert_drive") {
      need_enclosure();
      action::InsertMember a;
      a.port = ParsePort(f);
      if (const json* state = f.Find("state")) a.state = ParseState(*state, f.PathOf("state"));
      if (const json* member = f.Find("member")) {
        a.member =
            ParseMember(*member, f.PathOf("member"), EnclosureSpec::DefaultMember(a.port), nullptr);
      }
      event.action = a;
    } else if (action == "start_rebuild") {
      need_enclosure();
      action::StartRebuild a;
      a.port = ParsePort(f);
      a.duration_ms = ParseTime(f, "duration_ms", "duration_s");
      event.action = a;
    } else if (action == "finish_rebuild") {
      need_enclosure();
      event.action = action::FinishRebuild{};
    } else if (action == "set_port_state") {
      need_enclosure();
      action::SetPortState a;
      a.port = ParsePort(f);
      a.state = ParseState(f.Require("state"), f.PathOf("state"));
      event.action = a;
    } else if (action == "set_mode") {
      need_enclosure();
      event.action =
          action::SetMode{NamedOrNumber(f.Require("mode"), f.PathOf("mode"), kModeNames, 0xFF)};
    } else if (action == "set_fan") {
      need_enclosure();
      action::SetFan a;
      f.Require("rpm");
      f.Unsigned("rpm", a.rpm);
      event.action = a;
    } else if (action == "set_temperature") {
      need_enclosure();
      action::SetTemperature a;
      f.Require("celsius");
      f.Unsigned("celsius", a.celsius);
      event.action = a;
    } else if (action == "unplug") {
      event.action = action::Unplug{};
    } else if (action == "plug") {
      action::Plug a;
      if (const json* device = f.Find("device")) {
        Fields df(*device, f.PathOf("device"));
        a.drive = ParseDrive(df, seed_ + event.drive);
        enclosure_[event.drive] = std::holds_alternative<EnclosureSpec>(a.drive->device);
      } else if (!enclosure_.count(event.drive)) {
        Fail(f.PathOf("device"),
             "is required: drive " + std::to_string(event.drive) + " was never plugged in before");
      }
      event.action = a;
    } else if (action == "move") {
      if (!enclosure_.count(event.drive)) {
        Fail(f.PathOf("drive"),
             "drive " + std::to_string(event.drive) + " is not plugged in to be moved");
      }
      action::Move a;
      f.Require("to");
      f.Unsigned("to", a.to, kMaxDrives - 1);
      if (a.to == event.drive) Fail(f.PathOf("to"), "is the drive's own number");
      // What follows knows the drive by its new number only.
      enclosure_[a.to] = enclosure_[event.drive];
      enclosure_.erase(event.drive);
      event.action = a;
    } else if (action == "set_faults") {
      event.action = action::SetFaults{
          ParseFaults(f.Require("faults"), f.PathOf("faults"), seed_ + event.drive)};
    } else {
      Fail(f.PathOf("action"),
           "unknown action " + Shown(name) +
               " (pull_drive, insert_drive, start_rebuild, finish_rebuild, set_port_state, "
               "set_mode, set_fan, set_temperature, unplug, plug, move, set_faults)");
    }
    f.Finish();
    return event;
  }

 private:
  std::uint64_t seed_;
  std::map<unsigned, bool> enclosure_;  // drive number -> is an enclosure, as the timeline goes
};

// The clocks add a story's elapsed milliseconds to its start in the system clock's own unit,
// which runs out within a few centuries (in 2262 with nanoseconds). A story starts early enough
// to leave a century of story time before that: before the year this returns.
int FirstYearPastTheClock() {
  using namespace std::chrono;
  constexpr hours kStoryRoom{24 * 366 * 100};
  const year_month_day last{floor<days>(system_clock::time_point::max() - kStoryRoom)};
  return static_cast<int>(last.year());
}

// "YYYY-MM-DD HH:MM:SS" in local time. A date that does not exist (February 30, hour 24) is an
// error rather than the day mktime would make of it, and so is one past what the clock can hold.
std::chrono::system_clock::time_point ParseLocalTime(const json& value, const std::string& path) {
  const std::string expected = "expected a local time as \"YYYY-MM-DD HH:MM:SS\", got ";
  if (!value.is_string()) Fail(path, expected + Shown(value));
  const std::string text = value.get<std::string>();
  std::tm fields{};
  int consumed = 0;
  if (text.size() != 19 ||
      std::sscanf(text.c_str(), "%4d-%2d-%2d %2d:%2d:%2d%n", &fields.tm_year, &fields.tm_mon,
                  &fields.tm_mday, &fields.tm_hour, &fields.tm_min, &fields.tm_sec,
                  &consumed) != 6 ||
      consumed != 19 || fields.tm_year < 1970 || fields.tm_year > 2999) {
    Fail(path, expected + Shown(value));
  }
  const int past_the_clock = FirstYearPastTheClock();
  if (fields.tm_year >= past_the_clock) {
    Fail(path, Shown(value) + " is past what the clock can hold: a story starts before the year " +
                   std::to_string(past_the_clock));
  }
  fields.tm_year -= 1900;
  fields.tm_mon -= 1;
  fields.tm_isdst = -1;
  std::tm normalized = fields;
  const std::time_t when = std::mktime(&normalized);
  if (when == static_cast<std::time_t>(-1) || normalized.tm_year != fields.tm_year ||
      normalized.tm_mon != fields.tm_mon || normalized.tm_mday != fields.tm_mday ||
      normalized.tm_hour != fields.tm_hour || normalized.tm_min != fields.tm_min ||
      normalized.tm_sec != fields.tm_sec) {
    Fail(path, "no such local time: " + Shown(value));
  }
  return std::chrono::system_clock::from_time_t(when);
}

Scenario ParseRoot(const json& root) {
  Fields f(root, "");
  Scenario scenario;
  f.Text("description", scenario.description, 4096);
  f.Unsigned("seed", scenario.seed);
  if (const json* starts_at = f.Find("starts_at")) {
    scenario.starts_at = ParseLocalTime(*starts_at, f.PathOf("starts_at"));
  }
  if (const json* drives = f.Array("drives")) {
    for (std::size_t i = 0; i < drives->size(); ++i) {
      Fields df((*drives)[i], Index("drives", i));
      unsigned number = 0;
      df.Require("number");
      df.Unsigned("number", number, kMaxDrives - 1);
      if (scenario.drives.count(number)) {
        Fail(df.PathOf("number"), "drive " + std::to_string(number) + " is given twice");
      }
      scenario.drives[number] = ParseDrive(df, scenario.seed + number);
    }
  }
  if (const json* volumes = f.Array("volumes")) {
    std::unordered_set<std::string> names;
    for (std::size_t i = 0; i < volumes->size(); ++i) {
      VolumeSpec volume = ParseVolume((*volumes)[i], Index("volumes", i));
      if (!names.insert(volume.name).second) {
        Fail(Index("volumes", i) + ".name", "volume \"" + volume.name + "\" is given twice");
      }
      scenario.volumes.push_back(std::move(volume));
    }
  }
  if (const json* timeline = f.Array("timeline")) {
    // Events are checked in time order, so that a plug makes a drive known to what follows.
    std::vector<std::size_t> order(timeline->size());
    for (std::size_t i = 0; i < order.size(); ++i)
      order[i] = i;
    std::vector<std::uint64_t> times(timeline->size(), 0);
    for (std::size_t i = 0; i < order.size(); ++i) {
      Fields peek((*timeline)[i], Index("timeline", i));
      times[i] = ParseTime(peek, "at_ms", "at_s");
    }
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return times[a] < times[b]; });
    TimelineParser parser(scenario, scenario.seed);
    for (std::size_t i : order) {
      scenario.timeline.push_back(parser.Parse((*timeline)[i], Index("timeline", i)));
    }
  }
  f.Finish();
  return scenario;
}

}  // namespace

ScenarioParseResult ParseScenario(std::string_view json_text) {
  ScenarioParseResult result;
  try {
    if (std::optional<std::string> error = CheckJsonShape(json_text)) {
      result.error = std::move(*error);
      return result;
    }
    const json root = json::parse(json_text.begin(), json_text.end());
    result.scenario = ParseRoot(root);
  } catch (const json::parse_error& e) {
    result.error = std::string("not valid JSON: ") + e.what();
  } catch (const FieldError& e) {
    result.error = e.what();
  } catch (const std::exception& e) {
    result.error = std::string("scenario: ") + e.what();
  }
  return result;
}

ScenarioParseResult LoadScenarioFile(const std::string& path) {
  std::string text;
  std::string error;
  if (!ReadRegularFile(path, text, error, kScenarioFileMaxBytes)) {
    return {std::nullopt, "cannot read the scenario file: " + error};
  }
  ScenarioParseResult result = ParseScenario(text);
  if (!result.scenario) result.error = path + ": " + result.error;
  return result;
}

}  // namespace raid::sim
