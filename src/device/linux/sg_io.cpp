#include "device/linux/sg_io.h"

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

bool SgIoSucceeded(int ioctl_result, const sg_io_hdr_t& request) {
  // Deliberately strict: a CHECK CONDITION is a failure even when its sense says "recovered
  // error". The protocol rides on ordinary reads, and a retry is cheaper than trusting a block
  // the device itself flagged.
  return ioctl_result == 0 && (request.info & SG_INFO_OK_MASK) == SG_INFO_OK &&
         request.status == 0 && request.host_status == 0 && request.driver_status == 0;
}

bool ExecuteSgIo(int fd, const ScsiDataIn& command) {
  if (command.data.size() > UINT_MAX) return false;
  SgSense sense{};
  sg_io_hdr_t request = MakeSgIoRequest(command, sense);
  int result;
  do {
    result = ioctl(fd, SG_IO, &request);
  } while (result == -1 && errno == EINTR);
  return SgIoSucceeded(result, request);
}

}  // namespace raid
