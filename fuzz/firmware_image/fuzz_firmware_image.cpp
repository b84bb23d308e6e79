// SPDX-License-Identifier: GPL-2.0-or-later
// A firmware file is whatever the user picked: any length, any bytes. The input's first bytes
// choose the enclosure it is checked against and which reads fail; the rest is the file. The load
// must never read past the file, and must hold an image exactly when every check passed.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "common/bytes.h"
#include "device/enclosure_list.h"
#include "firmware/firmware_image.h"

namespace {

// Input layout: kind (low bit), enclosure firmware revision (6 bytes), failing offset (2 bytes,
// big-endian), failures there (low two bits; 3 = never reads), then the file.
constexpr std::size_t kHeader = 10;

class FuzzSource : public raid::FirmwareByteSource {
 public:
  FuzzSource(raid::ConstBytes file, std::uint64_t failing, int failures)
      : file_(file), failing_(failing), failures_(failures) {}
  std::optional<std::uint64_t> Open() override { return file_.size(); }
  std::size_t Read(std::uint64_t offset, std::span<std::uint8_t> into) override {
    if (offset + into.size() > file_.size()) __builtin_trap();
    for (std::size_t i = 0; i < into.size(); ++i) {
      if (offset + i == failing_ && failures_ != 0) {
        if (failures_ > 0) --failures_;
        return i;
      }
      into[i] = file_[offset + i];
    }
    return into.size();
  }

 private:
  raid::ConstBytes file_;
  std::uint64_t failing_;
  int failures_;
};

// The checks, restated plainly from the image layout.
bool Acceptable(raid::ConstBytes file, raid::ControllerKind kind,
                const raid::IdentificationBlock& id) {
  if (file.size() < raid::kMinimumImageSize || file.size() >= raid::kFlashSize) return false;
  if (!std::equal(raid::kImageGuidBytes.begin(), raid::kImageGuidBytes.end(), &file[132]))
    return false;
  if (!std::equal(raid::kImageVendorTagBytes.begin(), raid::kImageVendorTagBytes.end(), &file[128]))
    return false;
  if (kind != raid::ControllerKind::kRaidBridge) return true;
  const std::uint64_t f = raid::ReadBigEndian(id, 46, 4);
  const std::uint64_t c = raid::ReadBigEndian(file, 156, 4);
  if (f <= 0x13122500 || c <= 0x13122500) return true;
  const std::uint8_t e0 = id[50], e1 = id[51], i0 = file[160], i1 = file[161];
  if (e0 == 0x27 && (e1 == 0x60 || e1 == 0x70)) return i0 == 0x27 && (i1 == 0x60 || i1 == 0x70);
  return e0 == i0 && e1 == i1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < kHeader) return 0;
  const raid::ConstBytes input(data, size);
  const auto kind = (input[0] & 1) != 0 ? raid::ControllerKind::kPortMultiplier
                                        : raid::ControllerKind::kRaidBridge;
  raid::IdentificationBlock id{};
  std::copy(input.begin() + 1, input.begin() + 7, id.begin() + raid::kIdFirmwareRevision);
  const std::uint64_t failing = raid::ReadBigEndian(input, 7, 2);
  const int failures = (input[9] & 3) == 3 ? -1 : input[9] & 3;
  const raid::ConstBytes file = input.subspan(kHeader);

  FuzzSource source(file, failing, failures);
  const raid::FirmwareLoadResult result = raid::LoadFirmwareFile("fuzz.bin", source, kind, id);

  const bool readable = failing >= file.size() || failures >= 0;
  const bool expected = readable && Acceptable(file, kind, id);
  if (result.image.Loaded() != expected) __builtin_trap();
  if (result.image.Loaded()) {
    if (result.image.size != file.size() ||
        !std::equal(file.begin(), file.end(), result.image.bytes.begin(), result.image.bytes.end()))
      __builtin_trap();
  } else if (!result.image.bytes.empty() || result.messages.empty()) {
    // A refused file always says why, and keeps no bytes.
    __builtin_trap();
  }
  return 0;
}
