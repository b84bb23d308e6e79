// SPDX-License-Identifier: GPL-2.0-or-later
// The buffer of IOCTL_SCSI_PASS_THROUGH_DIRECT: the platform's SCSI_PASS_THROUGH_DIRECT, then the
// sense area. Sizes and offsets come from the platform's own structure, never from numbers
// written down for one word size: on 64-bit the structure is 56 bytes, and a request that gives
// the 32-bit size of 44 is rejected by Windows.
#pragma once

// <windows.h> first: the other two rely on its types.
#include <windows.h>

#include <ntddscsi.h>
#include <winioctl.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>

#include "device/disk_system.h"

namespace raid {

inline constexpr std::uint8_t kPassThroughTargetId = 1;
inline constexpr std::uint8_t kPassThroughSenseLength = 24;

struct PassThroughRecord {
  SCSI_PASS_THROUGH_DIRECT request;
  // The 8-byte alignment is the filler: 4 bytes after the 44-byte 32-bit structure, none after
  // the 56-byte 64-bit one.
  alignas(8) UCHAR sense[32];
};

#if defined(_WIN64)
static_assert(sizeof(void*) == 8);
static_assert(sizeof(SCSI_PASS_THROUGH_DIRECT) == 56);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, DataBuffer) == 24);
static_assert(offsetof(PassThroughRecord, sense) == 56);
static_assert(sizeof(PassThroughRecord) == 88);
#else
static_assert(sizeof(void*) == 4);
static_assert(sizeof(SCSI_PASS_THROUGH_DIRECT) == 44);
static_assert(offsetof(PassThroughRecord, sense) == 48);
static_assert(sizeof(PassThroughRecord) == 80);
#endif
static_assert(offsetof(PassThroughRecord, sense) % 8 == 0);
static_assert(kPassThroughSenseLength <= sizeof(PassThroughRecord::sense));

// The record for `command`, zero-filled first. The data buffer is the caller's, used in place.
// False when the command does not fit the record (a CDB over 16 bytes, data over 4 GiB).
inline bool FillPassThroughRecord(const ScsiDataIn& command, PassThroughRecord& record) {
  std::memset(&record, 0, sizeof record);
  if (command.cdb_length > sizeof record.request.Cdb || command.cdb_length > command.cdb.size() ||
      command.data.size() > std::numeric_limits<ULONG>::max()) {
    return false;
  }
  SCSI_PASS_THROUGH_DIRECT& request = record.request;
  request.Length = sizeof(SCSI_PASS_THROUGH_DIRECT);
  request.PathId = 0;
  request.TargetId = kPassThroughTargetId;
  request.Lun = 0;
  request.CdbLength = command.cdb_length;
  request.SenseInfoLength = kPassThroughSenseLength;
  request.SenseInfoOffset = offsetof(PassThroughRecord, sense);
  request.DataIn = SCSI_IOCTL_DATA_IN;
  request.DataTransferLength = static_cast<ULONG>(command.data.size());
  request.TimeOutValue = command.timeout_seconds;
  request.DataBuffer = command.data.data();
  std::copy_n(command.cdb.begin(), command.cdb_length, request.Cdb);
  return true;
}

}  // namespace raid
