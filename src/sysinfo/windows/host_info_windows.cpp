// SPDX-License-Identifier: GPL-2.0-or-later
#include "sysinfo/windows/host_info_windows.h"

#include <objbase.h>
#include <oleauto.h>
#include <wbemcli.h>
#include <wbemprov.h>

#include <string>
#include <utility>

#include "common/windows/wide_text.h"

namespace raid {

namespace {

// Local, propagated and non-system properties.
constexpr LONG kPropertyNameFlags = 0x70;
// Next waits as long as the service takes; the caller's deadline bounds it.
constexpr LONG kWaitForEver = -1;

// Holds one COM interface and releases it.
template <class T>
class ComRef {
 public:
  ComRef() = default;
  ~ComRef() {
    if (pointer_ != nullptr) pointer_->Release();
  }
  ComRef(ComRef&& other) noexcept : pointer_(std::exchange(other.pointer_, nullptr)) {}
  ComRef(const ComRef&) = delete;
  ComRef& operator=(const ComRef&) = delete;

  T* operator->() const { return pointer_; }
  T* get() const { return pointer_; }
  explicit operator bool() const { return pointer_ != nullptr; }
  // For the out-parameter of a call that hands over a new reference.
  T** put() {
    if (pointer_ != nullptr) pointer_->Release();
    pointer_ = nullptr;
    return &pointer_;
  }

 private:
  T* pointer_ = nullptr;
};

class Bstr {
 public:
  explicit Bstr(const std::wstring& text) : text_(SysAllocString(text.c_str())) {}
  ~Bstr() { SysFreeString(text_); }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  BSTR get() const { return text_; }

 private:
  BSTR text_;
};

// COM for the calling thread while a query runs. A thread that already has COM (the window's
// thread, in whatever model) keeps it as it is.
class ComApartment {
 public:
  ComApartment() : started_(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {}
  ~ComApartment() {
    if (started_) CoUninitialize();
  }
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;

 private:
  bool started_;
};

std::string BstrText(BSTR text) {
  return text == nullptr ? std::string() : Narrow(std::wstring_view(text, SysStringLen(text)));
}

std::string ScalarText(const VARIANT& value) {
  if (value.vt == VT_EMPTY || value.vt == VT_NULL) return {};
  if (value.vt == VT_BSTR) return BstrText(value.bstrVal);
  VARIANT text;
  VariantInit(&text);
  std::string result;
  if (SUCCEEDED(VariantChangeType(&text, const_cast<VARIANT*>(&value), VARIANT_ALPHABOOL, VT_BSTR)))
    result = BstrText(text.bstrVal);
  VariantClear(&text);
  return result;
}

std::string ArrayText(SAFEARRAY* array, VARTYPE element_type) {
  LONG lower = 0;
  LONG upper = -1;
  if (array == nullptr || SafeArrayGetDim(array) != 1 ||
      FAILED(SafeArrayGetLBound(array, 1, &lower)) || FAILED(SafeArrayGetUBound(array, 1, &upper)))
    return {};
  std::string joined;
  bool first = true;
  for (LONG index = lower; index <= upper; ++index) {
    VARIANT element;
    VariantInit(&element);
    // A variant array's element is a whole VARIANT; any other is the variant's data alone.
    void* target = &element;
    if (element_type != VT_VARIANT) {
      element.vt = element_type;
      target = &element.llVal;  // every member of the data union starts here
    }
    if (SUCCEEDED(SafeArrayGetElement(array, &index, target))) {
      if (!first) joined += ", ";
      joined += ScalarText(element);
      first = false;
    } else {
      element.vt = VT_EMPTY;  // nothing was copied that VariantClear could free
    }
    VariantClear(&element);
  }
  return joined;
}

ComRef<IWbemLocator> CreateLocator() {
  ComRef<IWbemLocator> locator;
  CoCreateInstance(CLSID_WbemAdministrativeLocator, nullptr,
                   CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER, IID_IWbemLocator,
                   reinterpret_cast<void**>(locator.put()));
  return locator;
}

// The wanted property's text of one instance, when its names list the property exactly.
std::string InstanceText(IWbemClassObject& object, const std::wstring& property) {
  SAFEARRAY* names = nullptr;
  if (FAILED(object.GetNames(nullptr, kPropertyNameFlags, nullptr, &names)) || names == nullptr)
    return {};
  std::string result;
  LONG lower = 0;
  LONG upper = -1;
  SafeArrayGetLBound(names, 1, &lower);
  SafeArrayGetUBound(names, 1, &upper);
  for (LONG index = lower; index <= upper; ++index) {
    BSTR name = nullptr;
    if (FAILED(SafeArrayGetElement(names, &index, &name))) continue;
    const bool wanted = name != nullptr && property == std::wstring(name, SysStringLen(name));
    if (wanted) {
      VARIANT value;
      VariantInit(&value);
      if (SUCCEEDED(object.Get(name, 0, &value, nullptr, nullptr))) result = VariantText(value);
      VariantClear(&value);
    }
    SysFreeString(name);
    if (wanted) break;
  }
  SafeArrayDestroy(names);
  return result;
}

}  // namespace

std::string VariantText(const VARIANT& value) {
  if ((value.vt & VT_ARRAY) != 0) {
    SAFEARRAY* array = value.parray;
    if ((value.vt & VT_BYREF) != 0) array = value.pparray != nullptr ? *value.pparray : nullptr;
    return ArrayText(array, static_cast<VARTYPE>(value.vt & VT_TYPEMASK));
  }
  return ScalarText(value);
}

std::string WmiQuery(std::string_view class_name, std::string_view property) {
  ComApartment apartment;
  ComRef<IWbemLocator> locator = CreateLocator();
  if (!locator) return {};

  ComRef<IWbemServices> services;
  const Bstr name_space(L"root\\cimv2");
  if (FAILED(locator->ConnectServer(name_space.get(), nullptr, nullptr, nullptr, 0, nullptr,
                                    nullptr, services.put())))
    return {};
  // Impersonation on the proxy itself, so the query also works in a process that never set
  // COM security (raidctl, the tests). In-process services have no proxy and refuse; fine.
  CoSetProxyBlanket(services.get(), RPC_C_AUTHN_DEFAULT, RPC_C_AUTHZ_DEFAULT, nullptr,
                    RPC_C_AUTHN_LEVEL_PKT, RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE);

  ComRef<IEnumWbemClassObject> objects;
  const Bstr language(L"WQL");
  const Bstr query(L"Select * from " + Widen(class_name));
  if (FAILED(services->ExecQuery(language.get(), query.get(), WBEM_FLAG_RETURN_IMMEDIATELY, nullptr,
                                 objects.put())) ||
      FAILED(objects->Reset()))
    return {};

  const std::wstring wanted = Widen(property);
  for (;;) {
    ComRef<IWbemClassObject> object;
    ULONG returned = 0;
    if (objects->Next(kWaitForEver, 1, object.put(), &returned) != S_OK || returned != 1) break;
    std::string text = InstanceText(*object.get(), wanted);
    if (!text.empty()) return text;
  }
  return {};
}

std::string WindowsHostInfo::BoardManufacturer() {
  return WmiQuery("Win32_BaseBoard", "Manufacturer");
}

std::string WindowsHostInfo::BoardProduct() {
  return WmiQuery("Win32_BaseBoard", "Product");
}

std::string WindowsHostInfo::SystemName() {
  return WmiQuery("Win32_Bus", "SystemName");
}

std::string WindowsHostInfo::IpAddresses() {
  return WmiQuery("Win32_NetworkAdapterConfiguration", "IPAddress");
}

std::unique_ptr<HostInfoSource> CreatePlatformHostInfo() {
  return std::make_unique<WindowsHostInfo>();
}

bool InitializeComForHostQueries() {
  // The window's thread is a single-threaded apartment, as Qt wants it; COM already started
  // there in another model stays as it is.
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  const HRESULT security =
      CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_PKT,
                           RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE, nullptr);
  // Too late means the process's security is already set (a second call, or a library that
  // used COM first); the queries set impersonation on their own proxies.
  return SUCCEEDED(security) || security == RPC_E_TOO_LATE;
}

}  // namespace raid
