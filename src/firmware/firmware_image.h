// SPDX-License-Identifier: GPL-2.0-or-later
// The controller firmware file the user picked on the Upgrade page: read into memory, summed for
// the status bar and checked against the image layout and the chosen enclosure. Only an image
// that passes every check is held; the upgrade refuses to run without one.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "common/bytes.h"
#include "common/ui_sink.h"
#include "device/enclosure_list.h"
#include "device/transport.h"
#include "firmware/upgrade_extent.h"

namespace raid {

// Offsets in a firmware image.
inline constexpr std::size_t kImageVendorTag = 128;  // 4 bytes, "KDRX"
inline constexpr std::size_t kImageGuid = 132;       // 16 bytes, binary GUID layout
inline constexpr std::size_t kFirmwareTypeByte = 149;
inline constexpr std::size_t kImageDateCode = 156;     // 4 bytes, big-endian
inline constexpr std::size_t kImageProductCode = 160;  // 2 bytes, P0 and P1
// The checks read bytes 128..161; a shorter file cannot be an image.
inline constexpr std::uint32_t kMinimumImageSize = 162;
// Date codes at or below this one carry no product code worth comparing.
inline constexpr std::uint32_t kProductCheckDateCode = 0x13122500;
// How often a read that fails at one offset is tried before the file is given up.
inline constexpr int kByteReadAttempts = 3;
// The file is read in blocks of this size: a read per byte made an 8 MiB image take seconds.
inline constexpr std::size_t kFirmwareReadBlock = 64 * 1024;

inline constexpr std::array<std::uint8_t, 4> kImageVendorTagBytes = {'K', 'D', 'R', 'X'};
// {AE166DEF-6FDC-474C-9BA4-B6AAE4B69A84}: first three groups little-endian, the rest in order.
inline constexpr std::array<std::uint8_t, 16> kImageGuidBytes = {
    0xEF, 0x6D, 0x16, 0xAE, 0xDC, 0x6F, 0x4C, 0x47, 0x9B, 0xA4, 0xB6, 0xAA, 0xE4, 0xB6, 0x9A, 0x84};

// The whole file, byte for byte. Size 0 means that no image is loaded, and then no bytes are held.
struct FirmwareImage {
  std::vector<std::uint8_t> bytes;
  std::uint32_t size = 0;

  bool Loaded() const { return size != 0; }
  void Release() {
    bytes.clear();
    bytes.shrink_to_fit();
    size = 0;
  }
};

// Where the file's bytes come from: opened once, then read a block at a time, and any read may
// fail part way.
class FirmwareByteSource {
 public:
  virtual ~FirmwareByteSource() = default;
  // The file's length in bytes, or none when it cannot be opened.
  virtual std::optional<std::uint64_t> Open() = 0;
  // Fills `into` with the bytes from `offset` on and returns how many were read: fewer than
  // asked means that the byte after them failed to read.
  virtual std::size_t Read(std::uint64_t offset, std::span<std::uint8_t> into) = 0;
  // Called once the reading is over, whatever its outcome.
  virtual void Close() {}
};

// A file on disk, read in binary. Only a regular file opens: a FIFO or a device could block the
// load for ever.
class FileByteSource : public FirmwareByteSource {
 public:
  explicit FileByteSource(std::filesystem::path path) : path_(std::move(path)) {}
  std::optional<std::uint64_t> Open() override;
  std::size_t Read(std::uint64_t offset, std::span<std::uint8_t> into) override;
  void Close() override { file_.close(); }

 private:
  std::filesystem::path path_;
  std::ifstream file_;
};

// What a load leaves: the image (none unless every check passed), the status panel texts it
// shows (unset when the load stopped before showing one) and its message boxes in order.
struct FirmwareLoadResult {
  FirmwareImage image;
  std::string file_text;                           // panel 4, "File:" + path
  std::optional<std::string> checksum_text;        // panel 0
  std::optional<std::string> enclosure_date_text;  // panel 2, "F:"
  std::optional<std::string> image_date_text;      // panel 3, "C:"
  std::vector<MessageBoxRequest> messages;
};

// Reads and checks the firmware file at `path` for the enclosure of `kind` whose identification
// block is `id`. The caller releases any image it held before and puts the new one in its place.
FirmwareLoadResult LoadFirmwareFile(const std::string& path, FirmwareByteSource& source,
                                    ControllerKind kind, const IdentificationBlock& id);
// The checks of the file alone, for when no enclosure has been chosen to compare it with.
FirmwareLoadResult LoadFirmwareFile(const std::string& path, FirmwareByteSource& source);

// The product check of a load, on an image of at least kMinimumImageSize bytes. Only a RAID
// bridge reports a product code, and only when both date codes are past kProductCheckDateCode
// are the codes compared.
bool ImageSuitsProduct(ConstBytes image, ControllerKind kind, const IdentificationBlock& id);

// The load's refusals that the upgrade repeats against the enclosure it is about to rewrite.
MessageBoxRequest ProductMismatchBox();
MessageBoxRequest ImageTooLargeBox();

}  // namespace raid
