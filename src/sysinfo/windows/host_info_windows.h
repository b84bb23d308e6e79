// SPDX-License-Identifier: GPL-2.0-or-later
// The host description on Windows, from WMI through its COM interfaces.
#pragma once

#include <oaidl.h>
#include <windows.h>

#include <string>
#include <string_view>

#include "sysinfo/host_info.h"

namespace raid {

// The value of `property` of the first instance of `class_name` in "root\cimv2" that has a
// non-empty one, as text (UTF-8); arrays are joined with ", ". The property name must match
// exactly, case included. Empty when WMI cannot be reached or no instance has a value. Starts COM
// on the calling thread for its own duration when the thread has not.
std::string WmiQuery(std::string_view class_name, std::string_view property);

// The text form of a WMI property value: an array gives its elements in index order joined with
// ", ", an empty or null value gives "", a boolean "True" or "False".
std::string VariantText(const VARIANT& value);

class WindowsHostInfo : public HostInfoSource {
 public:
  std::string BoardManufacturer() override;
  std::string BoardProduct() override;
  std::string SystemName() override;
  std::string IpAddresses() override;
};

}  // namespace raid
