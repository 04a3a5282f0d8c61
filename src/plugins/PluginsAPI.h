// How the client talks to plug-in code: the records of velm_plugin.h, the calls into plug-in
// routines (a fault inside one becomes an exception here), and the conversions between the
// client's texts and the plug-in texts and variants.
//
// Everything that depends on the calling convention or on the record layouts lives in this unit
// and in velm_plugin.h; a port to a platform with another convention adds its thunks here.
#pragma once

#define VELM_PLUGIN_HOST
#include "velm_plugin.h"

#include <csetjmp>
#include <cstdint>
#include <string>
#include <type_traits>
#include <utility>

namespace velm {

// Catches faults (bad memory access, illegal instruction, arithmetic fault) raised while plug-in
// code runs on this thread. While a trap is armed, such a signal returns to the trap's
// sigsetjmp; Raise then throws EExternal with the faulting code address.
class TPluginFaultTrap {
 public:
  TPluginFaultTrap();
  ~TPluginFaultTrap();
  TPluginFaultTrap(const TPluginFaultTrap&) = delete;
  TPluginFaultTrap& operator=(const TPluginFaultTrap&) = delete;

  [[noreturn]] void Raise();

  sigjmp_buf Buffer;
  volatile int Signal = 0;
  volatile uintptr_t Address = 0;

 private:
  TPluginFaultTrap* fOuter;
};

// While the client's own code runs inside a call from a plug-in (the TBrowserPage entries),
// faults are not the plug-in's: the trap of the surrounding plug-in call is set aside.
class TPluginFaultTrapSuspended {
 public:
  TPluginFaultTrapSuspended();
  ~TPluginFaultTrapSuspended();
  TPluginFaultTrapSuspended(const TPluginFaultTrapSuspended&) = delete;
  TPluginFaultTrapSuspended& operator=(const TPluginFaultTrapSuspended&) = delete;

 private:
  TPluginFaultTrap* fSaved;
};

// Calls a plug-in routine. A fault inside it throws EExternal; a C++ exception that leaves it
// passes on unchanged. Nothing with a destructor may live between the trap and the call.
template <class R, class... P, class... A>
R CallPlugin(R (*routine)(P...), A... args) {
  TPluginFaultTrap trap;
  if (sigsetjmp(trap.Buffer, 1) != 0) trap.Raise();
  if constexpr (std::is_void_v<R>) {
    routine(args...);
  } else {
    return routine(args...);
  }
}

// Plug-in Booleans.
inline VelmBool ToVelmBool(bool value) {
  return value ? VELM_TRUE : VELM_FALSE;
}
inline bool FromVelmBool(VelmBool value) {
  return value != 0;
}

// Wide strings.
VelmWideString NewWideString(std::u16string_view text);
std::u16string WideStringText(const VelmWideChar* s);

// A wide string owned by the client for the length of a call.
class TWideString {
 public:
  explicit TWideString(std::u16string_view text) : fValue(NewWideString(text)) {}
  ~TWideString() { VelmWideStringFree(fValue); }
  TWideString(const TWideString&) = delete;
  TWideString& operator=(const TWideString&) = delete;
  VelmWideString Get() const { return fValue; }

 private:
  VelmWideString fValue;
};

// A variant owned by the client; cleared (its text freed) when it goes.
class TVariant {
 public:
  TVariant() : fValue{} {}
  ~TVariant() { VelmVariantClear(&fValue); }
  TVariant(const TVariant&) = delete;
  TVariant& operator=(const TVariant&) = delete;

  static void SetInt(VelmVariant& v, int32_t value);
  static void SetBool(VelmVariant& v, bool value);
  static void SetString(VelmVariant& v, std::u16string_view text);

  TVariant& Int(int32_t value) {
    SetInt(fValue, value);
    return *this;
  }
  TVariant& Bool(bool value) {
    SetBool(fValue, value);
    return *this;
  }
  TVariant& String(std::u16string_view text) {
    SetString(fValue, text);
    return *this;
  }
  VelmVariant* Ptr() { return &fValue; }

 private:
  VelmVariant fValue;
};

// Reads a variant handed in by a plug-in (by-reference variants followed; null or empty gives
// the fallback; a number given as text or a Boolean given as number is converted).
std::u16string VariantText(const VelmVariant* v);
int32_t VariantInt(const VelmVariant* v, int32_t fallback = 0);
bool VariantBool(const VelmVariant* v, bool fallback = false);

// The description a plug-in gives through GetDescription, as client text (Windows-1251). The
// client's counted-string variable starts empty and its reference is released afterwards, also
// when the call fails.
std::string CallGetDescription(TVelmGetDescription routine);

// Object handles: the client hands its own objects to plug-ins as opaque handles.
template <class T>
VelmObject ToPluginObject(T* object) {
  return reinterpret_cast<VelmObject>(const_cast<std::remove_const_t<T>*>(object));
}
template <class T>
T* FromPluginObject(VelmObject handle) {
  return reinterpret_cast<T*>(handle);
}

// What the 17 operations of a tab's TBrowserPage act on: the tab's browser.
class IPluginBrowser {
 public:
  virtual ~IPluginBrowser() = default;
  virtual void GoBack() = 0;
  virtual void GoForward() = 0;
  // flags: 1 opens the address in a new tab; postData is the body (UTF-8), empty for a GET.
  virtual void Navigate(const std::u16string& url, int32_t flags,
                        const std::u16string& targetFrameName, const std::string& postData,
                        const std::u16string& headers) = 0;
  virtual void Refresh() = 0;
  virtual void Refresh2(int32_t level) = 0;
  virtual void Stop() = 0;
  virtual VelmObject Application() = 0;
  virtual VelmObject Parent() = 0;
  virtual VelmObject Container() = 0;
  virtual VelmObject Document() = 0;
  virtual int32_t Left() = 0;
  virtual int32_t Top() = 0;
  virtual int32_t Width() = 0;
  virtual int32_t Height() = 0;
  virtual std::u16string LocationName() = 0;
  virtual std::u16string LocationURL() = 0;
  virtual bool Busy() = 0;
};

// Fills the record with the 17 operations bound to browser (context word = &browser). The
// browser must outlive every use of the record. An exception raised by an operation is logged
// and does not travel into the plug-in's code.
void FillBrowserPage(TBrowserPage& page, IPluginBrowser& browser);

}  // namespace velm
