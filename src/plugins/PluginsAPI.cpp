#include "plugins/PluginsAPI.h"

#include <signal.h>
#include <ucontext.h>

#include <cstring>
#include <limits>
#include <stdexcept>

#include "app/Debug.h"
#include "platform/Encoding.h"
#include "platform/ExceptionInfo.h"

namespace velm {

namespace {

constexpr int kTrappedSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE};
constexpr int kTrappedSignalCount = sizeof kTrappedSignals / sizeof kTrappedSignals[0];

// The innermost armed trap of this thread. Plug-ins are called on the UI thread only, but a fault
// on another thread must still reach that thread's own handler.
thread_local TPluginFaultTrap* gArmedTrap = nullptr;
// The handlers in force before the outermost trap of the UI thread was armed.
struct sigaction gPreviousActions[kTrappedSignalCount];
thread_local int gArmedDepth = 0;

int SignalIndex(int sig) {
  for (int i = 0; i < kTrappedSignalCount; ++i)
    if (kTrappedSignals[i] == sig) return i;
  return -1;
}

uintptr_t FaultingCodeAddress(siginfo_t* info, void* context) {
#if defined(__x86_64__)
  if (context)
    return static_cast<uintptr_t>(static_cast<ucontext_t*>(context)->uc_mcontext.gregs[REG_RIP]);
#elif defined(__i386__)
  if (context)
    return static_cast<uintptr_t>(static_cast<ucontext_t*>(context)->uc_mcontext.gregs[REG_EIP]);
#elif defined(__aarch64__)
  if (context) return static_cast<uintptr_t>(static_cast<ucontext_t*>(context)->uc_mcontext.pc);
#endif
  return reinterpret_cast<uintptr_t>(info ? info->si_addr : nullptr);
}

void OnFault(int sig, siginfo_t* info, void* context) {
  TPluginFaultTrap* trap = gArmedTrap;
  if (!trap) {
    // Not plug-in code of this thread: put the earlier handler back; the faulting instruction
    // runs again and meets it.
    int i = SignalIndex(sig);
    if (i >= 0) sigaction(sig, &gPreviousActions[i], nullptr);
    return;
  }
  trap->Signal = sig;
  trap->Address = FaultingCodeAddress(info, context);
  siglongjmp(trap->Buffer, 1);
}

std::string FaultName(int sig) {
  switch (sig) {
    case SIGSEGV:
    case SIGBUS:
      return "Access violation";
    case SIGILL:
      return "Illegal instruction";
    case SIGFPE:
      return "Arithmetic fault";
    default:
      return "Fault";
  }
}

}  // namespace

TPluginFaultTrap::TPluginFaultTrap() : fOuter(gArmedTrap) {
  if (gArmedDepth++ == 0) {
    struct sigaction action {};
    action.sa_sigaction = OnFault;
    action.sa_flags = SA_SIGINFO;
    sigemptyset(&action.sa_mask);
    for (int i = 0; i < kTrappedSignalCount; ++i)
      sigaction(kTrappedSignals[i], &action, &gPreviousActions[i]);
  }
  gArmedTrap = this;
}

TPluginFaultTrap::~TPluginFaultTrap() {
  gArmedTrap = fOuter;
  if (--gArmedDepth == 0) {
    for (int i = 0; i < kTrappedSignalCount; ++i)
      sigaction(kTrappedSignals[i], &gPreviousActions[i], nullptr);
  }
}

void TPluginFaultTrap::Raise() {
  uintptr_t address = Address;
  std::string message = FaultName(Signal) + " at address " + Hex8(address);
  std::string module;
  uintptr_t relative = 0;
  if (ModuleOfAddress(address, module, relative))
    message = FaultName(Signal) + " at address " + Hex8(relative) + " in module '" + module + "'";
  throw EExternal(message, address);
}

TPluginFaultTrapSuspended::TPluginFaultTrapSuspended() : fSaved(gArmedTrap) {
  gArmedTrap = nullptr;
}

TPluginFaultTrapSuspended::~TPluginFaultTrapSuspended() {
  gArmedTrap = fSaved;
}

VelmWideString NewWideString(std::u16string_view text) {
  if (text.size() > std::numeric_limits<uint32_t>::max() / 4) throw std::length_error("text");
  static_assert(sizeof(char16_t) == sizeof(VelmWideChar));
  VelmWideString s = VelmWideStringAlloc(nullptr, static_cast<uint32_t>(text.size()));
  if (!s && !text.empty()) throw std::bad_alloc();
  if (s) std::memcpy(s, text.data(), text.size() * sizeof(char16_t));
  return s;
}

std::u16string WideStringText(const VelmWideChar* s) {
  std::u16string text(VelmWideStringLength(s), u'\0');
  if (!text.empty()) std::memcpy(text.data(), s, text.size() * sizeof(char16_t));
  return text;
}

void TVariant::SetInt(VelmVariant& v, int32_t value) {
  VelmVariantClear(&v);
  v.Type = VELM_VT_I4;
  v.Value.Int = value;
}

void TVariant::SetBool(VelmVariant& v, bool value) {
  VelmVariantClear(&v);
  v.Type = VELM_VT_BOOL;
  v.Value.Bool = ToVelmBool(value);
}

void TVariant::SetString(VelmVariant& v, std::u16string_view text) {
  VelmWideString s = NewWideString(text);
  VelmVariantClear(&v);
  v.Type = VELM_VT_BSTR;
  v.Value.Str = s;
}

std::u16string VariantText(const VelmVariant* v) {
  v = VelmVariantDeref(v);
  if (!v) return {};
  switch (v->Type) {
    case VELM_VT_BSTR:
      return WideStringText(v->Value.Str);
    case VELM_VT_I4:
      return Utf8ToUtf16(std::to_string(v->Value.Int));
    case VELM_VT_BOOL:
      return v->Value.Bool ? u"True" : u"False";
    default:
      return {};
  }
}

int32_t VariantInt(const VelmVariant* v, int32_t fallback) {
  v = VelmVariantDeref(v);
  if (!v) return fallback;
  switch (v->Type) {
    case VELM_VT_I4:
      return v->Value.Int;
    case VELM_VT_BOOL:
      return v->Value.Bool;
    case VELM_VT_BSTR: {
      std::string digits = Utf16ToUtf8(WideStringText(v->Value.Str));
      try {
        size_t used = 0;
        long long n = std::stoll(digits, &used, 10);
        if (used == digits.size() && n >= std::numeric_limits<int32_t>::min() &&
            n <= std::numeric_limits<int32_t>::max())
          return static_cast<int32_t>(n);
      } catch (const std::exception&) {
      }
      return fallback;
    }
    default:
      return fallback;
  }
}

bool VariantBool(const VelmVariant* v, bool fallback) {
  v = VelmVariantDeref(v);
  if (!v) return fallback;
  switch (v->Type) {
    case VELM_VT_BOOL:
      return v->Value.Bool != 0;
    case VELM_VT_I4:
      return v->Value.Int != 0;
    default:
      return fallback;
  }
}

namespace {

// Holds the client's counted-string variable; releases its reference on every way out.
class TAnsiStringVariable {
 public:
  TAnsiStringVariable() = default;
  ~TAnsiStringVariable() { VelmAnsiStringRelease(&Value); }
  TAnsiStringVariable(const TAnsiStringVariable&) = delete;
  TAnsiStringVariable& operator=(const TAnsiStringVariable&) = delete;
  VelmAnsiString Value = nullptr;
};

}  // namespace

std::string CallGetDescription(TVelmGetDescription routine) {
  TAnsiStringVariable description;
  CallPlugin(routine, &description.Value);
  int32_t length = VelmAnsiStringLength(description.Value);
  if (length <= 0) return {};
  return std::string(description.Value, static_cast<size_t>(length));
}

namespace {

// The entries run the client's code on behalf of a plug-in: its faults are the client's own, and
// no exception may unwind through the plug-in's frames.
template <class F>
auto Guarded(F&& body, decltype(body()) fallback) -> decltype(body()) {
  TPluginFaultTrapSuspended suspended;
  try {
    return body();
  } catch (const std::exception& e) {
    if (Debug) Debug->LogException(e);
  } catch (...) {
    if (Debug)
      Debug->LogException(std::runtime_error("Unknown exception in a browser page operation"));
  }
  return fallback;
}

template <class F>
void GuardedVoid(F&& body) {
  TPluginFaultTrapSuspended suspended;
  try {
    body();
  } catch (const std::exception& e) {
    if (Debug) Debug->LogException(e);
  } catch (...) {
    if (Debug)
      Debug->LogException(std::runtime_error("Unknown exception in a browser page operation"));
  }
}

IPluginBrowser& BrowserOf(void* context) {
  return *static_cast<IPluginBrowser*>(context);
}

// Stores an object into a plug-in's variable; handles are not counted, so the old value needs
// no release.
void StoreObject(VelmObject* variable, VelmObject (IPluginBrowser::*get)(), void* context) {
  if (!variable) return;
  GuardedVoid([&] { *variable = (BrowserOf(context).*get)(); });
}

// Stores a new text into a plug-in's wide-string variable, releasing the old one first.
void StoreText(VelmWideString* variable, std::u16string (IPluginBrowser::*get)(), void* context) {
  if (!variable) return;
  GuardedVoid([&] {
    VelmWideString text = NewWideString((BrowserOf(context).*get)());
    VelmWideStringFree(*variable);
    *variable = text;
  });
}

std::string PostDataBytes(const VelmVariant* v) {
  return Utf16ToUtf8(VariantText(v));
}

}  // namespace

void FillBrowserPage(TBrowserPage& page, IPluginBrowser& browser) {
  std::memset(&page, 0, sizeof page);
  void* context = &browser;
  page.GoBack = {[](void* c) { GuardedVoid([&] { BrowserOf(c).GoBack(); }); }, context};
  page.GoForward = {[](void* c) { GuardedVoid([&] { BrowserOf(c).GoForward(); }); }, context};
  page.Navigate = {[](void* c, VelmWideString url, VelmVariant* flags, VelmVariant* target,
                      VelmVariant* postData, VelmVariant* headers) {
                     GuardedVoid([&] {
                       BrowserOf(c).Navigate(WideStringText(url), VariantInt(flags, 0),
                                             VariantText(target), PostDataBytes(postData),
                                             VariantText(headers));
                     });
                   },
                   context};
  page.Refresh = {[](void* c) { GuardedVoid([&] { BrowserOf(c).Refresh(); }); }, context};
  page.Refresh2 = {[](void* c, VelmVariant* level) {
                     GuardedVoid([&] { BrowserOf(c).Refresh2(VariantInt(level, 0)); });
                   },
                   context};
  page.Stop = {[](void* c) { GuardedVoid([&] { BrowserOf(c).Stop(); }); }, context};
  page.Application = {
      [](void* c, VelmObject* o) { StoreObject(o, &IPluginBrowser::Application, c); }, context};
  page.Parent = {[](void* c, VelmObject* o) { StoreObject(o, &IPluginBrowser::Parent, c); },
                 context};
  page.Container = {[](void* c, VelmObject* o) { StoreObject(o, &IPluginBrowser::Container, c); },
                    context};
  page.Document = {[](void* c, VelmObject* o) { StoreObject(o, &IPluginBrowser::Document, c); },
                   context};
  page.Left = {[](void* c) { return Guarded([&] { return BrowserOf(c).Left(); }, 0); }, context};
  page.Top = {[](void* c) { return Guarded([&] { return BrowserOf(c).Top(); }, 0); }, context};
  page.Width = {[](void* c) { return Guarded([&] { return BrowserOf(c).Width(); }, 0); }, context};
  page.Height = {[](void* c) { return Guarded([&] { return BrowserOf(c).Height(); }, 0); },
                 context};
  page.LocationName = {
      [](void* c, VelmWideString* t) { StoreText(t, &IPluginBrowser::LocationName, c); }, context};
  page.LocationURL = {
      [](void* c, VelmWideString* t) { StoreText(t, &IPluginBrowser::LocationURL, c); }, context};
  page.Busy = {
      [](void* c) { return Guarded([&] { return ToVelmBool(BrowserOf(c).Busy()); }, VELM_FALSE); },
      context};
}

}  // namespace velm
