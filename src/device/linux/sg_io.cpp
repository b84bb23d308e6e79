// SPDX-License-Identifier: GPL-2.0-or-later
#include "device/linux/sg_io.h"

#include "device/scsi_commands.h"

#include <sys/ioctl.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

namespace raid {

sg_io_hdr_t MakeSgIoRequest(const ScsiDataIn& command, SgSense& sense) {
  sg_io_hdr_t request;
  std::memset(&request, 0, sizeof request);
  request.interface_id = 'S';
  request.dxfer_direction = SG_DXFER_FROM_DEV;
  request.cmd_len = std::min<std::uint8_t>(command.cdb_length, command.cdb.size());
  // The kernel only reads the CDB; the header's type is not const.
  request.cmdp = const_cast<unsigned char*>(command.cdb.data());
  request.dxferp = command.data.data();
  request.dxfer_len = static_cast<unsigned>(command.data.size());
  request.sbp = sense.data();
  request.mx_sb_len = static_cast<unsigned char>(sense.size());
  const std::uint64_t timeout_ms = std::uint64_t{command.timeout_seconds} * 1000;
  request.timeout = static_cast<unsigned>(std::min<std::uint64_t>(timeout_ms, UINT_MAX));
  return request;
}

namespace {

constexpr unsigned kDriverSense = 0x08;  // DRIVER_SENSE: sense data came back, nothing wrong

}  // namespace

ScsiOutcome SgIoOutcome(int ioctl_result, const sg_io_hdr_t& request, const SgSense& sense) {
  ScsiOutcome outcome;
  if (ioctl_result != 0 || request.host_status != 0 ||
      (request.driver_status & ~kDriverSense) != 0) {
    return outcome;
  }
  outcome.status = request.status;
  if (request.status == kScsiStatusCheckCondition) {
    outcome.transported = true;
    const std::size_t length = std::min<std::size_t>(request.sb_len_wr, sense.size());
    outcome.sense = DecodeSense(std::span<const std::uint8_t>(sense.data(), length));
    return outcome;
  }
  // A short transfer did not deliver the block.
  outcome.transported = request.resid == 0;
  return outcome;
}

ScsiOutcome ExecuteSgIo(int fd, const ScsiDataIn& command) {
  if (command.data.size() > UINT_MAX) return {};
  SgSense sense{};
  sg_io_hdr_t request = MakeSgIoRequest(command, sense);
  int result;
  do {
    result = ioctl(fd, SG_IO, &request);
  } while (result == -1 && errno == EINTR);
  return SgIoOutcome(result, request, sense);
}

}  // namespace raid
