// SPDX-License-Identifier: GPL-2.0-or-later
// The subject and contents files of the alert kinds: "EmailSubject <kind name>.txt" and
// "EmailContens <kind name>.txt" in the template folder, plain text with lines ending in CR LF.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "events/alert_sink.h"

namespace raid {

enum class TemplatePart { kSubject, kContents };

// "Hard Disks Fail", "Device Removed", "Over Heat", "Fan Fail".
std::string_view AlertKindName(AlertKind kind);

// "EmailSubject Device Removed.txt" and the like, without a folder.
std::string TemplateFileName(AlertKind kind, TemplatePart part);

// The file in `folder` (UTF-8, a FilePath text, with or without its trailing separator).
std::filesystem::path TemplateFilePath(std::string_view folder, AlertKind kind, TemplatePart part);

// UTF-8 text to a path and back, also on Windows, where a narrow path means the ANSI code page.
std::filesystem::path PathFromUtf8(std::string_view text);
std::string PathToUtf8(const std::filesystem::path& path);

// The lines of a template file's content: split at LF, a CR before it dropped, so that files
// written with either ending read alike.
std::vector<std::string> SplitTemplateLines(std::string_view content);

// A template file, and a file given for one, holds at most this much.
inline constexpr std::uintmax_t kTemplateFileMaxBytes = 1024 * 1024;

// A missing file gives no lines and succeeds. A path that is no regular file fails at once,
// without opening it, and so does a file that cannot be read or is larger than
// kTemplateFileMaxBytes; `error` says why.
bool ReadTemplateFile(const std::filesystem::path& path, std::vector<std::string>& lines,
                      std::string& error);

// How many bytes `lines` take in a template file, each ended by CR LF: a file read with LF
// endings grows when it is stored.
std::uintmax_t StoredTemplateBytes(const std::vector<std::string>& lines);
// Why `lines` cannot be stored as a template (more than kTemplateFileMaxBytes stored), or empty.
std::string TemplateTooLargeText(const std::vector<std::string>& lines);

// Replaces the file as a whole with `lines`, each ended by CR LF. Refused, with nothing written,
// when the file would be too large to be read back.
bool WriteTemplateFile(const std::filesystem::path& path, const std::vector<std::string>& lines,
                       std::string& error);

// Removes the file; one that is not there is fine.
bool DeleteTemplateFile(const std::filesystem::path& path, std::string& error);

}  // namespace raid
