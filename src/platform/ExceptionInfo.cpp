#include "platform/ExceptionInfo.h"

#include <cxxabi.h>
#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <typeinfo>

#include "platform/ProgramPath.h"

namespace velm {

std::string Hex8(uintptr_t value) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "%08llX", static_cast<unsigned long long>(value & 0xFFFFFFFFu));
  return buf;
}

bool ModuleOfAddress(uintptr_t address, std::string& moduleName, uintptr_t& relative) {
  Dl_info info{};
  if (address == 0 || !dladdr(reinterpret_cast<void*>(address), &info) || !info.dli_fname)
    return false;
  moduleName = ExtractFileName(info.dli_fname);
  relative = address - reinterpret_cast<uintptr_t>(info.dli_fbase);
  return true;
}

TExceptionInfo CurrentExceptionInfo() {
  TExceptionInfo info;
  info.ClassName = "Exception";
  info.ModuleName = ExtractFileName(ExePath());
  const std::type_info* type = abi::__cxa_current_exception_type();
  if (type) {
    int status = 0;
    std::unique_ptr<char, void (*)(void*)> name(
        abi::__cxa_demangle(type->name(), nullptr, nullptr, &status), std::free);
    info.ClassName = status == 0 && name ? name.get() : type->name();
  }
  std::exception_ptr current = std::current_exception();
  if (!current) return info;
  try {
    std::rethrow_exception(current);
  } catch (const EExternal& e) {
    info.Message = e.what();
    ModuleOfAddress(e.ExceptionAddress, info.ModuleName, info.RelativeAddress);
  } catch (const std::exception& e) {
    info.Message = e.what();
  } catch (...) {
  }
  return info;
}

}  // namespace velm
