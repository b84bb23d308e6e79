// SPDX-License-Identifier: GPL-2.0-or-later
// The texts every consumer shows for an array: drive texts, the firmware revision, capacities,
// mode and link speed names. One place, used by the Status page, the log, the mails and raidctl.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace raid {

// Text from a device (a model, serial, firmware or INQUIRY text) as the program shows, logs and
// mails it: each control byte (0x00-0x1F, 0x7F) becomes '?', so that a drive can never write a
// line of its own into the log or an escape sequence to a terminal. Bytes from 0x80 up stay;
// JSON and the metrics replace what is not UTF-8.
std::string DeviceText(std::string_view bytes);

// The length of the UTF-8 sequence `text` starts with (well-formed: no overlong form, surrogate
// or value past U+10FFFF), or 0 when it starts with none; `text` must not be empty.
std::size_t Utf8SequenceLength(std::string_view text);

// A model (40 bytes) or serial (20 bytes) field with its byte pairs swapped back, up to its first
// zero byte, as DeviceText. Model texts lose their trailing blanks, but never below six
// characters; serial texts are not trimmed.
std::string ModelText(std::span<const std::uint8_t> record, std::size_t offset);
std::string SerialText(std::span<const std::uint8_t> record, std::size_t offset);
// A serial without the blanks that pad it, for programs (JSON, metrics); the log and the mail
// keep the padded form.
std::string TrimmedSerial(std::string serial);

// From the 8-byte firmware revision field (identification bytes 46-53): the eight characters
// when none is a control byte (0x00-0x1F, 0x7F), else "09061A.3" (three hex bytes, a dot, the
// low nibble of the fourth).
std::string FirmwareRevisionText(std::span<const std::uint8_t> identification);
// The same field as alert mails write it: the eight characters when none is a control byte, else
// the first six bytes as twelve upper-case hexadecimal digits, in stored order.
std::string MailFirmwareRevisionText(std::span<const std::uint8_t> identification);

// "931 GB", "488 MB": sectors / 2048 below 0x200000 sectors, else sectors / 2097152.
std::string CapacityText(std::uint64_t sectors);

// "Striping(RAID0)", "Mirroring(RAID1)", "NRAID", "JBOD", "Bypass", else "Undefine".
std::string ModeName(std::uint8_t mode);

// Index 1 "1.5G", 2 "3G", 3 "6G"; anything else is empty.
std::string LinkSpeedName(unsigned index);

}  // namespace raid
