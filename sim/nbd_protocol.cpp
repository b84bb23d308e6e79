// SPDX-License-Identifier: GPL-2.0-or-later
#include "nbd_protocol.h"

#include "wire_bytes.h"

namespace raid::sim::nbd {
namespace {

constexpr std::size_t kBlockBytes = 512;
constexpr std::size_t kReservedZeroes = 124;

void Append(Bytes& out, std::size_t width, std::uint64_t value) {
  const std::size_t at = out.size();
  out.resize(at + width);
  wire::PutBigEndian(out, at, width, value);
}

}  // namespace

Bytes Greeting() {
  Bytes out;
  Append(out, 8, kInitMagic);
  Append(out, 8, kOptionMagic);
  Append(out, 2, kFlagFixedNewstyle | kFlagNoZeroes);
  return out;
}

OptionHeader ParseOptionHeader(std::span<const std::uint8_t, kOptionHeaderBytes> bytes) {
  return {wire::GetBigEndian(bytes, 0, 8) == kOptionMagic,
          static_cast<std::uint32_t>(wire::GetBigEndian(bytes, 8, 4)),
          static_cast<std::uint32_t>(wire::GetBigEndian(bytes, 12, 4))};
}

std::optional<InfoRequest> ParseInfoRequest(std::span<const std::uint8_t> data) {
  if (data.size() < 6) return std::nullopt;
  const std::uint64_t name_length = wire::GetBigEndian(data, 0, 4);
  if (name_length > data.size() - 6) return std::nullopt;
  const std::size_t count_at = 4 + static_cast<std::size_t>(name_length);
  const std::uint64_t count = wire::GetBigEndian(data, count_at, 2);
  if (data.size() != count_at + 2 + count * 2) return std::nullopt;
  InfoRequest request;
  request.name.assign(data.begin() + 4, data.begin() + static_cast<std::ptrdiff_t>(count_at));
  for (std::size_t i = 0; i < count; ++i) {
    request.requests.push_back(
        static_cast<std::uint16_t>(wire::GetBigEndian(data, count_at + 2 + 2 * i, 2)));
  }
  return request;
}

Bytes OptionReply(std::uint32_t option, std::uint32_t type, std::span<const std::uint8_t> data) {
  Bytes out;
  Append(out, 8, kOptionReplyMagic);
  Append(out, 4, option);
  Append(out, 4, type);
  Append(out, 4, data.size());
  out.insert(out.end(), data.begin(), data.end());
  return out;
}

Bytes InfoReplies(std::uint32_t option, std::uint64_t size, std::uint16_t flags) {
  Bytes export_info;
  Append(export_info, 2, kInfoExport);
  Append(export_info, 8, size);
  Append(export_info, 2, flags);
  Bytes block_size;
  Append(block_size, 2, kInfoBlockSize);
  Append(block_size, 4, kMinimumBlock);
  Append(block_size, 4, kPreferredBlock);
  Append(block_size, 4, kMaxRequestBytes);
  Bytes out = OptionReply(option, kRepInfo, export_info);
  const Bytes second = OptionReply(option, kRepInfo, block_size);
  out.insert(out.end(), second.begin(), second.end());
  const Bytes ack = OptionReply(option, kRepAck);
  out.insert(out.end(), ack.begin(), ack.end());
  return out;
}

Bytes ExportNameReply(std::uint64_t size, std::uint16_t flags, bool no_zeroes) {
  Bytes out;
  Append(out, 8, size);
  Append(out, 2, flags);
  if (!no_zeroes) out.resize(out.size() + kReservedZeroes, 0);
  return out;
}

Request ParseRequest(std::span<const std::uint8_t, kRequestBytes> bytes) {
  return {wire::GetBigEndian(bytes, 0, 4) == kRequestMagic,
          static_cast<std::uint16_t>(wire::GetBigEndian(bytes, 4, 2)),
          static_cast<std::uint16_t>(wire::GetBigEndian(bytes, 6, 2)),
          wire::GetBigEndian(bytes, 8, 8),
          wire::GetBigEndian(bytes, 16, 8),
          static_cast<std::uint32_t>(wire::GetBigEndian(bytes, 24, 4))};
}

Bytes SimpleReply(std::uint32_t error, std::uint64_t handle) {
  Bytes out;
  Append(out, 4, kSimpleReplyMagic);
  Append(out, 4, error);
  Append(out, 8, handle);
  return out;
}

std::optional<CoveringBlocks> BlocksOfRead(std::uint64_t offset, std::uint32_t length,
                                           std::uint64_t size) {
  if (length == 0 || length > kMaxRequestBytes || length > size || offset > size - length) {
    return std::nullopt;
  }
  const std::uint64_t first = offset / kBlockBytes;
  const std::uint64_t end = (offset + length + kBlockBytes - 1) / kBlockBytes;
  return CoveringBlocks{first, static_cast<std::uint32_t>(end - first),
                        static_cast<std::size_t>(offset % kBlockBytes)};
}

}  // namespace raid::sim::nbd
