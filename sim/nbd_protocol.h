// SPDX-License-Identifier: GPL-2.0-or-later
// The parts of the NBD protocol raidsim-nbd speaks, as bytes: the fixed newstyle handshake
// (NBD_OPT_EXPORT_NAME, NBD_OPT_INFO, NBD_OPT_GO, NBD_OPT_ABORT) and simple replies in the
// transmission phase. No sockets here; every number on the wire is big-endian.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace raid::sim::nbd {

using Bytes = std::vector<std::uint8_t>;

inline constexpr std::uint64_t kInitMagic = 0x4E42444D41474943;    // "NBDMAGIC"
inline constexpr std::uint64_t kOptionMagic = 0x49484156454F5054;  // "IHAVEOPT"
inline constexpr std::uint64_t kOptionReplyMagic = 0x0003E889045565A9;
inline constexpr std::uint32_t kRequestMagic = 0x25609513;
inline constexpr std::uint32_t kSimpleReplyMagic = 0x67446698;

// Handshake flags (ours) and client flags share these bits.
inline constexpr std::uint16_t kFlagFixedNewstyle = 1U << 0;
inline constexpr std::uint16_t kFlagNoZeroes = 1U << 1;

// Transmission flags.
inline constexpr std::uint16_t kHasFlags = 1U << 0;
inline constexpr std::uint16_t kReadOnly = 1U << 1;
inline constexpr std::uint16_t kSendFlush = 1U << 2;
inline constexpr std::uint16_t kSendTrim = 1U << 5;
inline constexpr std::uint16_t kSendWriteZeroes = 1U << 6;
// Not read-only: the client must send its writes, so that they can be refused and counted.
inline constexpr std::uint16_t kExportFlags = kHasFlags | kSendFlush | kSendTrim | kSendWriteZeroes;

inline constexpr std::uint32_t kOptExportName = 1;
inline constexpr std::uint32_t kOptAbort = 2;
inline constexpr std::uint32_t kOptInfo = 6;
inline constexpr std::uint32_t kOptGo = 7;
inline constexpr std::uint32_t kOptStructuredReply = 8;

inline constexpr std::uint32_t kRepAck = 1;
inline constexpr std::uint32_t kRepInfo = 3;
inline constexpr std::uint32_t kRepErrUnsup = 0x80000001;
inline constexpr std::uint32_t kRepErrInvalid = 0x80000003;
inline constexpr std::uint32_t kRepErrUnknown = 0x80000006;

inline constexpr std::uint16_t kInfoExport = 0;
inline constexpr std::uint16_t kInfoBlockSize = 3;

inline constexpr std::uint16_t kCmdRead = 0;
inline constexpr std::uint16_t kCmdWrite = 1;
inline constexpr std::uint16_t kCmdDisconnect = 2;
inline constexpr std::uint16_t kCmdFlush = 3;
inline constexpr std::uint16_t kCmdTrim = 4;
inline constexpr std::uint16_t kCmdWriteZeroes = 6;

// Error values of replies: the protocol's own numbers, whatever the host's errno says.
inline constexpr std::uint32_t kErrPerm = 1;
inline constexpr std::uint32_t kErrIo = 5;
inline constexpr std::uint32_t kErrInvalid = 22;

inline constexpr std::size_t kOptionHeaderBytes = 16;
inline constexpr std::size_t kRequestBytes = 28;
// An option carries at most an export name of 4096 bytes and a few words; a client that
// announces more is not one we can serve.
inline constexpr std::size_t kMaxOptionBytes = 4096 + 64;
// The largest request served, and what NBD_INFO_BLOCK_SIZE advertises: whole 512-byte blocks,
// preferably 4 KiB, at most 32 MiB.
inline constexpr std::uint32_t kMinimumBlock = 512;
inline constexpr std::uint32_t kPreferredBlock = 4096;
inline constexpr std::uint32_t kMaxRequestBytes = 32U << 20;

// "NBDMAGIC", "IHAVEOPT" and our handshake flags (fixed newstyle, no zeroes).
Bytes Greeting();

struct OptionHeader {
  bool magic_ok = false;
  std::uint32_t option = 0;
  std::uint32_t length = 0;
};
OptionHeader ParseOptionHeader(std::span<const std::uint8_t, kOptionHeaderBytes> bytes);

// The data of NBD_OPT_INFO and NBD_OPT_GO: an export name and the information asked for.
struct InfoRequest {
  std::string name;
  std::vector<std::uint16_t> requests;
};
// Nothing when the lengths inside do not add up to the data's.
std::optional<InfoRequest> ParseInfoRequest(std::span<const std::uint8_t> data);

Bytes OptionReply(std::uint32_t option, std::uint32_t type,
                  std::span<const std::uint8_t> data = {});
// NBD_REP_INFO with NBD_INFO_EXPORT, with NBD_INFO_BLOCK_SIZE (512, 4096, 32 MiB), then
// NBD_REP_ACK: the whole answer to a good NBD_OPT_INFO or NBD_OPT_GO.
Bytes InfoReplies(std::uint32_t option, std::uint64_t size, std::uint16_t flags);
// The answer to NBD_OPT_EXPORT_NAME: size, flags and, unless the client asked for none, the
// 124 zero bytes.
Bytes ExportNameReply(std::uint64_t size, std::uint16_t flags, bool no_zeroes);

struct Request {
  bool magic_ok = false;
  std::uint16_t flags = 0;
  std::uint16_t type = 0;
  std::uint64_t handle = 0;
  std::uint64_t offset = 0;
  std::uint32_t length = 0;
};
Request ParseRequest(std::span<const std::uint8_t, kRequestBytes> bytes);

// A simple reply's header; the data of a successful read follows it.
Bytes SimpleReply(std::uint32_t error, std::uint64_t handle);

// The 512-byte blocks a read of `length` bytes at `offset` covers, and where the bytes asked for
// start in the first of them. Nothing for an empty read, one past the end of an export of `size`
// bytes, or one longer than kMaxRequestBytes.
struct CoveringBlocks {
  std::uint64_t lba = 0;
  std::uint32_t blocks = 0;
  std::size_t skip = 0;
};
std::optional<CoveringBlocks> BlocksOfRead(std::uint64_t offset, std::uint32_t length,
                                           std::uint64_t size);

}  // namespace raid::sim::nbd
