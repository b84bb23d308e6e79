// SPDX-License-Identifier: GPL-2.0-or-later
#include "sysinfo/windows/host_info_windows.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <oleauto.h>

#include <chrono>
#include <string>
#include <string_view>
#include <thread>

namespace raid {
namespace {

using ::testing::Not;
using ::testing::StartsWith;

// A one-dimensional safe array of `count` elements of `type`, filled by `fill(array, index)`.
template <class Fill>
VARIANT ArrayVariant(VARTYPE type, LONG count, Fill fill) {
  VARIANT value;
  VariantInit(&value);
  SAFEARRAY* array = SafeArrayCreateVector(type, 0, static_cast<ULONG>(count));
  for (LONG index = 0; index < count; ++index)
    fill(array, index);
  value.vt = VT_ARRAY | type;
  value.parray = array;
  return value;
}

TEST(WmiValueText, AnAdaptersAddressesAreJoinedInIndexOrder) {
  const wchar_t* addresses[] = {L"192.168.1.20", L"fe80::1c2d:3e4f:5a6b:7c8d"};
  VARIANT value = ArrayVariant(VT_BSTR, 2, [&](SAFEARRAY* array, LONG index) {
    BSTR text = SysAllocString(addresses[index]);
    SafeArrayPutElement(array, &index, text);
    SysFreeString(text);
  });
  EXPECT_EQ(VariantText(value), "192.168.1.20, fe80::1c2d:3e4f:5a6b:7c8d");
  VariantClear(&value);
}

TEST(WmiValueText, ScalarsEmptiesAndMixedArrays) {
  VARIANT value;
  VariantInit(&value);
  EXPECT_EQ(VariantText(value), "");
  value.vt = VT_NULL;  // what WMI gives for an adapter without addresses
  EXPECT_EQ(VariantText(value), "");
  value.vt = VT_I4;
  value.lVal = 42;
  EXPECT_EQ(VariantText(value), "42");
  value.vt = VT_BOOL;
  value.boolVal = VARIANT_TRUE;
  EXPECT_EQ(VariantText(value), "True");
  value.vt = VT_BSTR;
  value.bstrVal = SysAllocString(L"Gr\u00F6\u00DFe");
  EXPECT_EQ(VariantText(value),
            "Gr\xC3\xB6\xC3\x9F"
            "e");  // UTF-8, as the window takes it
  VariantClear(&value);

  VARIANT mixed = ArrayVariant(VT_VARIANT, 3, [](SAFEARRAY* array, LONG index) {
    VARIANT element;
    VariantInit(&element);
    if (index == 1) {
      element.vt = VT_I4;
      element.lVal = 7;
    } else {
      element.vt = VT_BSTR;
      element.bstrVal = SysAllocString(index == 0 ? L"a" : L"b");
    }
    SafeArrayPutElement(array, &index, &element);
    VariantClear(&element);
  });
  EXPECT_EQ(VariantText(mixed), "a, 7, b");
  VariantClear(&mixed);

  VARIANT none = ArrayVariant(VT_BSTR, 0, [](SAFEARRAY*, LONG) {});
  EXPECT_EQ(VariantText(none), "");
  VariantClear(&none);
}

TEST(WmiQuery, TheBoardAnswersAndWrongNamesGiveNothing) {
  EXPECT_NE(WmiQuery("Win32_BaseBoard", "Manufacturer"), "");
  EXPECT_NE(WmiQuery("Win32_BaseBoard", "Product"), "");
  EXPECT_EQ(WmiQuery("Win32_BaseBoard", "manufacturer"), "");  // the name must match exactly
  EXPECT_EQ(WmiQuery("Win32_BaseBoard", "NoSuchProperty"), "");
  EXPECT_EQ(WmiQuery("Win32_NoSuchClass", "Manufacturer"), "");
}

TEST(WmiQuery, AddressesAreAListWithoutStrayCommas) {
  const std::string addresses = WmiQuery("Win32_NetworkAdapterConfiguration", "IPAddress");
  if (addresses.empty()) GTEST_SKIP() << "no adapter with an address on this host";
  EXPECT_THAT(addresses, Not(StartsWith(",")));
  EXPECT_THAT(addresses, Not(testing::EndsWith(" ")));
  EXPECT_THAT(addresses, Not(testing::HasSubstr(", , ")));
}

// The window's thread: COM set up there first, then the lines built from worker threads that
// start COM for themselves.
TEST(WindowsHostInfoThread, AfterTheWindowsComSetUpTheLinesAreBuiltWithinTheLimit) {
  EXPECT_TRUE(InitializeComForHostQueries());
  EXPECT_TRUE(InitializeComForHostQueries());  // a second set-up is not an error to show
  // A query on the window's own (single-threaded) apartment still works.
  EXPECT_NE(WmiQuery("Win32_BaseBoard", "Manufacturer"), "");

  const auto start = std::chrono::steady_clock::now();
  const auto lines = BuildSystemInfo(CreatePlatformHostInfo(), std::chrono::seconds(3));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_NE(lines[1], "\nMotherBoard :  - ");
  // Wine answers nothing for Win32_Bus; Windows gives the computer's NetBIOS name.
  ASSERT_THAT(lines[2], StartsWith("\nSystem Name : "));
  const std::string system_name = lines[2].substr(std::string_view("\nSystem Name : ").size());
  if (!system_name.empty()) {
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD length = MAX_COMPUTERNAME_LENGTH + 1;
    ASSERT_TRUE(GetComputerNameW(name, &length));
    EXPECT_EQ(CompareStringOrdinal(name, static_cast<int>(length),
                                   std::wstring(system_name.begin(), system_name.end()).c_str(), -1,
                                   TRUE),
              CSTR_EQUAL)
        << system_name;
  }
  CoUninitialize();
}

}  // namespace
}  // namespace raid
