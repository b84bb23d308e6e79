// SPDX-License-Identifier: GPL-2.0-or-later
#include "notify/push/channel_config.h"

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <utility>

#include "common/platform_files.h"
#include "common/text_helpers.h"
#include "common/toml.h"
#include "events/monitor_events.h"
#include "notify/mail_templates.h"
#include "notify/push/push_files.h"

namespace raid {
namespace {

constexpr std::array<std::pair<ChannelType, std::string_view>, 8> kTypeNames = {{
    {ChannelType::kNtfy, "ntfy"},
    {ChannelType::kGotify, "gotify"},
    {ChannelType::kWebhook, "webhook"},
    {ChannelType::kAlertmanager, "alertmanager"},
    {ChannelType::kDiscord, "discord"},
    {ChannelType::kSlack, "slack"},
    {ChannelType::kMatrix, "matrix"},
    {ChannelType::kTeams, "teams"},
}};

constexpr std::array<std::pair<RemindPolicy, std::string_view>, 3> kRemindNames = {{
    {RemindPolicy::kOnce, "once"},
    {RemindPolicy::kDaily, "daily"},
    {RemindPolicy::kDiminishing, "diminishing"},
}};

constexpr std::array<MonitorEventKind, 7> kEventKinds = {
    MonitorEventKind::kDiskFail,   MonitorEventKind::kDeviceRemoved, MonitorEventKind::kOverHeat,
    MonitorEventKind::kFanFail,    MonitorEventKind::kDeviceFound,   MonitorEventKind::kNoResponse,
    MonitorEventKind::kResponding,
};

constexpr std::array<std::string_view, 10> kKeys = {
    "name", "type", "url", "token", "token_file", "events", "remind", "room", "ca_file", "timeout",
};

constexpr std::string_view kCertificateMark = "-----BEGIN CERTIFICATE-----";

// "a, b, c": what `name` gives for each entry.
template <typename Entries, typename Name>
std::string Listed(const Entries& entries, Name name) {
  std::string list;
  for (const auto& entry : entries)
    list += (list.empty() ? "" : ", ") + std::string(name(entry));
  return list;
}

template <typename Pairs>
std::string NameList(const Pairs& pairs) {
  return Listed(pairs, [](const auto& entry) { return entry.second; });
}

bool HasControlOrBlank(std::string_view text) {
  return std::any_of(text.begin(), text.end(), [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte <= 0x20 || byte == 0x7F;
  });
}

bool HasControl(std::string_view text) {
  return std::any_of(text.begin(), text.end(), [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7F;
  });
}

// http:// or https:// (in any case), a host, and nothing that could end the URL early.
bool IsHttpUrl(std::string_view url) {
  if (HasControlOrBlank(url)) return false;
  const std::size_t colon = url.find("://");
  if (colon == std::string_view::npos) return false;
  std::string scheme(url.substr(0, colon));
  std::transform(scheme.begin(), scheme.end(), scheme.begin(),
                 [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; });
  if (scheme != "http" && scheme != "https") return false;
  const std::string_view rest = url.substr(colon + 3);
  const std::size_t host_end = rest.find_first_of("/?#");
  return host_end != 0 && !rest.empty();
}

// Reads one channel table. Every message names the line it is about.
class ChannelReader {
 public:
  ChannelReader(const std::filesystem::path& file, std::string& error)
      : file_(file), folder_(file.parent_path()), error_(error) {}

  bool Read(const toml::table& table, ChannelConfig& channel) {
    for (const auto& [key, value] : table) {
      if (std::find(kKeys.begin(), kKeys.end(), key.str()) == kKeys.end()) {
        return Fail(value,
                    fmt::format("unknown key \"{}\" (the keys of a channel: {})", key.str(),
                                Listed(kKeys, [](std::string_view known) { return known; })));
      }
    }
    std::optional<std::string> name, type, url, token, token_file, remind, room, ca_file;
    if (!Text(table, "name", name) || !Text(table, "type", type) || !Text(table, "url", url) ||
        !Text(table, "token", token) || !Text(table, "token_file", token_file) ||
        !Text(table, "remind", remind) || !Text(table, "room", room) ||
        !Text(table, "ca_file", ca_file)) {
      return false;
    }

    if (!name) return Fail(table, "a channel without a name");
    if (name->empty()) return Fail(*table.get("name"), "the channel name is empty");
    if (!IsUsableChannelName(*name)) {
      return Fail(*table.get("name"),
                  fmt::format("the channel name \"{}\" may hold only letters, digits, '-', '_' "
                              "and '.', at most {} of them",
                              DeviceText(*name), kMaxChannelNameLength));
    }
    channel.name = *name;
    const std::string about = "channel \"" + *name + "\": ";

    if (!type) return Fail(table, about + "no type (one of " + NameList(kTypeNames) + ")");
    const std::optional<ChannelType> kind = ChannelTypeFromName(*type);
    if (!kind) {
      return Fail(*table.get("type"), about + "unknown type \"" + DeviceText(*type) +
                                          "\" (one of " + NameList(kTypeNames) + ")");
    }
    channel.type = *kind;

    if (!url) return Fail(table, about + "no url");
    if (!IsHttpUrl(*url)) {
      return Fail(*table.get("url"), about + "the url \"" + DeviceText(*url) +
                                         "\" is not an http:// or https:// address");
    }
    channel.url = *url;

    const bool secret_in_url = channel.type == ChannelType::kDiscord ||
                               channel.type == ChannelType::kSlack ||
                               channel.type == ChannelType::kTeams;
    if (secret_in_url && (token || token_file)) {
      return Fail(*table.get(token ? "token" : "token_file"),
                  about + "a " + *type + " channel takes no token: its url holds the secret");
    }
    if (token && token_file) {
      return Fail(*table.get("token_file"), about + "token and token_file both given: keep one");
    }
    if (token) {
      if (token->empty() || HasControl(*token)) {
        return Fail(*table.get("token"), about + "the token is empty or holds a control character");
      }
      channel.token = *token;
    }
    if (token_file && !ReadToken(*table.get("token_file"), about, *token_file, channel.token)) {
      return false;
    }

    channel.events = DefaultChannelEvents();
    if (const toml::node* events = table.get("events"); events != nullptr) {
      if (!Events(*events, about, channel.events)) return false;
    }

    if (remind) {
      const auto found = std::find_if(kRemindNames.begin(), kRemindNames.end(),
                                      [&](const auto& entry) { return entry.second == *remind; });
      if (found == kRemindNames.end()) {
        return Fail(*table.get("remind"), about + "unknown remind \"" + DeviceText(*remind) +
                                              "\" (one of " + NameList(kRemindNames) + ")");
      }
      channel.remind = found->first;
    }

    if (channel.type == ChannelType::kMatrix) {
      if (!room) return Fail(table, about + "a matrix channel needs the room it posts to");
      if (room->size() < 2 || room->front() != '!' || HasControlOrBlank(*room)) {
        return Fail(*table.get("room"), about + "the room \"" + DeviceText(*room) +
                                            "\" is not a room id such as !abc:example.org");
      }
      channel.room = *room;
    } else if (room) {
      return Fail(*table.get("room"), about + "room is for matrix channels only");
    }

    if (ca_file && !CheckCaFile(*table.get("ca_file"), about, *ca_file, channel.ca_file)) {
      return false;
    }
    if (const toml::node* timeout = table.get("timeout"); timeout != nullptr) {
      const std::optional<std::int64_t> seconds = timeout->value_exact<std::int64_t>();
      if (!seconds || *seconds < kMinChannelTimeoutSeconds ||
          *seconds > kMaxChannelTimeoutSeconds) {
        return Fail(*timeout,
                    fmt::format("{}the timeout is a whole number of seconds from {} to {}", about,
                                kMinChannelTimeoutSeconds, kMaxChannelTimeoutSeconds));
      }
      channel.timeout_seconds = static_cast<std::uint32_t>(*seconds);
    }
    return true;
  }

  bool Fail(const toml::node& node, const std::string& what) {
    return FailAt(node.source().begin.line, what);
  }
  bool FailAt(std::size_t line, const std::string& what) {
    error_ = fmt::format("{} line {}: {}", PathToUtf8(file_), line, what);
    return false;
  }

 private:
  bool Text(const toml::table& table, std::string_view key, std::optional<std::string>& value) {
    const toml::node* node = table.get(key);
    if (node == nullptr) return true;
    if (!node->is_string()) return Fail(*node, std::string(key) + " must be a text in quotes");
    value = node->as_string()->get();
    return true;
  }

  std::filesystem::path Beside(const std::string& path) const {
    const std::filesystem::path given = PathFromUtf8(path);
    return given.is_relative() ? folder_ / given : given;
  }

  bool ReadToken(const toml::node& node, const std::string& about, const std::string& path,
                 std::string& token) {
    std::string content, why;
    if (!ReadPushFile(Beside(path), kTokenFileMaxBytes, content, why)) {
      return Fail(node, about + "cannot read the token file: " + why);
    }
    while (!content.empty() && (content.back() == '\n' || content.back() == '\r'))
      content.pop_back();
    if (content.empty() || HasControl(content)) {
      return Fail(node, about + "the token file " + PathToUtf8(Beside(path)) +
                            " holds no token, or more than one line");
    }
    token = std::move(content);
    return true;
  }

  bool Events(const toml::node& node, const std::string& about, std::vector<std::string>& events) {
    const toml::array* list = node.as_array();
    if (list == nullptr) return Fail(node, about + "events must be a list such as [\"disk-fail\"]");
    events.clear();
    for (const toml::node& element : *list) {
      const toml::value<std::string>* name = element.as_string();
      const auto known = [&] {
        return std::any_of(kEventKinds.begin(), kEventKinds.end(), [&](MonitorEventKind kind) {
          return MonitorEventName(kind) == name->get();
        });
      };
      if (name == nullptr || !known()) {
        const std::string shown = name != nullptr ? "\"" + DeviceText(name->get()) + "\"" : "?";
        return Fail(element, about + "unknown event " + shown +
                                 " (the events: " + Listed(kEventKinds, MonitorEventName) + ")");
      }
      if (std::find(events.begin(), events.end(), name->get()) == events.end())
        events.push_back(name->get());
    }
    if (events.empty())
      return Fail(node, about + "events is empty: the channel would hear nothing");
    return true;
  }

  // Read now, so that a wrong path shows when the file is loaded rather than at the first alert.
  bool CheckCaFile(const toml::node& node, const std::string& about, const std::string& path,
                   std::string& ca_file) {
    const std::filesystem::path full = Beside(path);
    std::string content, why;
    if (!ReadPushFile(full, kCaFileMaxBytes, content, why)) {
      return Fail(node, about + "cannot read the CA file: " + why);
    }
    if (content.find(kCertificateMark) == std::string::npos) {
      return Fail(node, about + "the CA file " + PathToUtf8(full) + " holds no PEM certificate");
    }
    ca_file = PathToUtf8(full);
    return true;
  }

  const std::filesystem::path& file_;
  std::filesystem::path folder_;
  std::string& error_;
};

}  // namespace

std::string_view ChannelTypeName(ChannelType type) {
  for (const auto& [kind, name] : kTypeNames) {
    if (kind == type) return name;
  }
  return "";
}

std::optional<ChannelType> ChannelTypeFromName(std::string_view name) {
  for (const auto& [kind, known] : kTypeNames) {
    if (known == name) return kind;
  }
  return std::nullopt;
}

std::string_view RemindPolicyName(RemindPolicy policy) {
  for (const auto& [kind, name] : kRemindNames) {
    if (kind == policy) return name;
  }
  return "";
}

std::vector<std::string> DefaultChannelEvents() {
  std::vector<std::string> events;
  for (const MonitorEventKind kind :
       {MonitorEventKind::kDiskFail, MonitorEventKind::kDeviceRemoved, MonitorEventKind::kOverHeat,
        MonitorEventKind::kFanFail, MonitorEventKind::kNoResponse}) {
    events.emplace_back(MonitorEventName(kind));
  }
  return events;
}

bool IsUsableChannelName(std::string_view name) {
  return !name.empty() && name.size() <= kMaxChannelNameLength &&
         std::all_of(name.begin(), name.end(), [](char c) {
           return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                  c == '-' || c == '_' || c == '.';
         });
}

bool ParseNotifyChannels(std::string_view text, const std::filesystem::path& file,
                         std::vector<ChannelConfig>& channels, std::string& error) {
  channels.clear();
  toml::table document;
  try {
    document = toml::parse(text, PathToUtf8(file));
  } catch (const toml::parse_error& failure) {
    error = fmt::format("{} line {}: {}", PathToUtf8(file), failure.source().begin.line,
                        failure.description());
    return false;
  }
  ChannelReader reader(file, error);
  for (const auto& [key, value] : document) {
    if (key.str() != "channel") {
      return reader.Fail(value, fmt::format("unknown key \"{}\" (the file holds [[channel]] "
                                            "tables only)",
                                            key.str()));
    }
  }
  const toml::node* list = document.get("channel");
  if (list == nullptr) return true;
  if (!list->is_array_of_tables()) {
    return reader.Fail(*list, "channel must be a table of its own: write [[channel]]");
  }
  std::vector<ChannelConfig> read;
  std::vector<std::size_t> lines;
  for (const toml::node& element : *list->as_array()) {
    ChannelConfig channel;
    if (!reader.Read(*element.as_table(), channel)) return false;
    const auto same = std::find_if(read.begin(), read.end(), [&](const ChannelConfig& other) {
      return other.name == channel.name;
    });
    if (same != read.end()) {
      return reader.Fail(*element.as_table()->get("name"),
                         fmt::format("the channel name \"{}\" is taken by the channel on line {}",
                                     channel.name, lines[same - read.begin()]));
    }
    lines.push_back(element.source().begin.line);
    read.push_back(std::move(channel));
  }
  channels = std::move(read);
  return true;
}

bool LoadNotifyChannels(const std::filesystem::path& file, std::vector<ChannelConfig>& channels,
                        std::string& error) {
  channels.clear();
  std::string what;
  if (ExaminePath(file, what) == PathKind::kMissing) return true;
  std::string content;
  if (!ReadPushFile(file, kNotifyFileMaxBytes, content, error)) return false;
  return ParseNotifyChannels(content, file, channels, error);
}

}  // namespace raid
