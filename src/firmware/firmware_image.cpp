// SPDX-License-Identifier: GPL-2.0-or-later
#include "firmware/firmware_image.h"

#include <algorithm>
#include <numeric>
#include <string_view>

#include "common/bytes.h"
#include "common/platform_files.h"

namespace raid {

namespace {

constexpr std::string_view kOpenFailedText = "Fail to open firmware file";
constexpr std::string_view kReadRetryText = "Error read from Source file. ByteCount = ";
constexpr std::string_view kReadFailedText = "Fail to read firmware file";
constexpr std::string_view kTooLargeText =
    "The firmware file is too large for the flash.\nPlease check it.";
constexpr std::string_view kTooShortText = "The firmware file is too short.\nPlease check it.";
constexpr std::string_view kGuidErrorText =
    "Threr are GUID error in the firmware file.\nPlease check it.";
constexpr std::string_view kTagErrorText =
    "Threr are METADATA_SINGATURE error in the firmware file.\nPlease check it.";
constexpr std::string_view kProductErrorText =
    "The firmware is not for this product.\nPlease check it.";

void AddError(FirmwareLoadResult& result, std::string_view caption, std::string text) {
  result.messages.push_back({std::string(caption), std::move(text), MessageIcon::kError});
}

// The two products of the 0x27 0x60 / 0x27 0x70 pair take each other's firmware.
bool ProductMatches(std::uint8_t enclosure_p0, std::uint8_t enclosure_p1, std::uint8_t image_p0,
                    std::uint8_t image_p1) {
  const bool paired = enclosure_p0 == 0x27 && (enclosure_p1 == 0x60 || enclosure_p1 == 0x70);
  if (paired) return image_p0 == 0x27 && (image_p1 == 0x60 || image_p1 == 0x70);
  return image_p0 == enclosure_p0 && image_p1 == enclosure_p1;
}

// Reads the whole source into `bytes` a block at a time, summing it; false when a byte never
// reads. A read that fails is tried again from the byte that failed, with a warning naming it.
bool ReadAll(FirmwareByteSource& source, std::vector<std::uint8_t>& bytes, std::uint32_t& sum,
             FirmwareLoadResult& result) {
  std::size_t offset = 0;
  int failures = 0;  // in a row, at `offset`
  while (offset < bytes.size()) {
    const std::size_t wanted = std::min(kFirmwareReadBlock, bytes.size() - offset);
    const std::size_t read =
        std::min(wanted, source.Read(offset, std::span(bytes).subspan(offset, wanted)));
    sum = std::accumulate(bytes.begin() + static_cast<std::ptrdiff_t>(offset),
                          bytes.begin() + static_cast<std::ptrdiff_t>(offset + read), sum);
    if (read != 0) failures = 0;  // the failing byte, if any, is a later one
    offset += read;
    if (read == wanted) continue;
    AddError(result, kWarningCaption, std::string(kReadRetryText) + std::to_string(offset));
    if (++failures == kByteReadAttempts) return false;
  }
  return true;
}

std::uint32_t EnclosureDateCode(const IdentificationBlock& id) {
  return static_cast<std::uint32_t>(ReadBigEndian(id, kIdFirmwareRevision, 4));
}

std::uint32_t ImageDateCode(ConstBytes image) {
  return static_cast<std::uint32_t>(ReadBigEndian(image, kImageDateCode, 4));
}

// The file checks, then the product check when `id` names an enclosure to compare with.
FirmwareLoadResult Load(const std::string& path, FirmwareByteSource& source, ControllerKind kind,
                        const IdentificationBlock* id) {
  FirmwareLoadResult result;
  result.file_text = "File:" + path;

  const std::optional<std::uint64_t> length = source.Open();
  if (!length) {
    AddError(result, kErrorCaption, std::string(kOpenFailedText));
    return result;
  }
  if (!FitsFlash(*length)) {
    source.Close();
    result.messages.push_back(ImageTooLargeBox());
    return result;
  }

  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(*length));
  std::uint32_t sum = 0;
  const bool read = ReadAll(source, bytes, sum, result);
  source.Close();
  if (!read) {
    AddError(result, kErrorCaption, std::string(kReadFailedText));
    return result;
  }
  // The sum is only shown; nothing compares it.
  result.checksum_text = "Chksum:" + HexUpper(sum, 8);

  if (bytes.size() < kMinimumImageSize) {
    AddError(result, kErrorCaption, std::string(kTooShortText));
    return result;
  }
  const ConstBytes image(bytes);
  if (!std::equal(kImageGuidBytes.begin(), kImageGuidBytes.end(), image.begin() + kImageGuid)) {
    AddError(result, kErrorCaption, std::string(kGuidErrorText));
    return result;
  }
  if (!std::equal(kImageVendorTagBytes.begin(), kImageVendorTagBytes.end(),
                  image.begin() + kImageVendorTag)) {
    AddError(result, kErrorCaption, std::string(kTagErrorText));
    return result;
  }

  if (id != nullptr && kind == ControllerKind::kRaidBridge) {
    result.enclosure_date_text = "F:" + HexUpper(EnclosureDateCode(*id), 1);
    result.image_date_text = "C:" + HexUpper(ImageDateCode(image), 1);
  }
  if (id != nullptr && !ImageSuitsProduct(image, kind, *id)) {
    result.messages.push_back(ProductMismatchBox());
    return result;
  }

  result.image.size = static_cast<std::uint32_t>(bytes.size());
  result.image.bytes = std::move(bytes);
  return result;
}

}  // namespace

std::optional<std::uint64_t> FileByteSource::Open() {
  std::string what;
  if (ExaminePath(path_, what) != PathKind::kRegularFile) return std::nullopt;
  file_.open(path_, std::ios::binary);
  if (!file_) return std::nullopt;
  file_.seekg(0, std::ios::end);
  const std::streamoff end = file_.tellg();
  if (!file_ || end < 0) return std::nullopt;
  file_.seekg(0);
  return static_cast<std::uint64_t>(end);
}

std::size_t FileByteSource::Read(std::uint64_t offset, std::span<std::uint8_t> into) {
  // A failed read leaves the stream's error state set; the next attempt starts afresh.
  file_.clear();
  file_.seekg(static_cast<std::streamoff>(offset));
  if (!file_) return 0;
  file_.read(reinterpret_cast<char*>(into.data()), static_cast<std::streamsize>(into.size()));
  return static_cast<std::size_t>(std::max<std::streamsize>(0, file_.gcount()));
}

bool ImageSuitsProduct(ConstBytes image, ControllerKind kind, const IdentificationBlock& id) {
  if (kind != ControllerKind::kRaidBridge) return true;
  if (EnclosureDateCode(id) <= kProductCheckDateCode ||
      ImageDateCode(image) <= kProductCheckDateCode) {
    return true;
  }
  return ProductMatches(id[kIdProductCode], id[kIdProductCode + 1], image[kImageProductCode],
                        image[kImageProductCode + 1]);
}

MessageBoxRequest ProductMismatchBox() {
  return {std::string(kErrorCaption), std::string(kProductErrorText), MessageIcon::kError};
}

MessageBoxRequest ImageTooLargeBox() {
  return {std::string(kErrorCaption), std::string(kTooLargeText), MessageIcon::kError};
}

FirmwareLoadResult LoadFirmwareFile(const std::string& path, FirmwareByteSource& source,
                                    ControllerKind kind, const IdentificationBlock& id) {
  return Load(path, source, kind, &id);
}

FirmwareLoadResult LoadFirmwareFile(const std::string& path, FirmwareByteSource& source) {
  return Load(path, source, ControllerKind::kRaidBridge, nullptr);
}

}  // namespace raid
