// What the platform can tell about the exception being handled.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace velm {

// An error the operating system raised (a fatal signal turned into an exception record); it
// carries the faulting code address.
class EExternal : public std::runtime_error {
 public:
  EExternal(const std::string& message, uintptr_t address)
      : std::runtime_error(message), ExceptionAddress(address) {}
  uintptr_t ExceptionAddress;
};

struct TExceptionInfo {
  std::string ClassName;   // demangled; "Exception" when nothing is being handled
  std::string Message;     // what() of a std::exception, empty otherwise
  std::string ModuleName;  // file name without folder of the module holding the faulting code
  uintptr_t RelativeAddress = 0;  // faulting address relative to that module; 0 where unknown
};

// Describes the exception currently being handled (call inside a catch block).
TExceptionInfo CurrentExceptionInfo();
// The module file name and module-relative offset of a code address; false where unknown.
bool ModuleOfAddress(uintptr_t address, std::string& moduleName, uintptr_t& relative);
// Eight upper-case hexadecimal digits.
std::string Hex8(uintptr_t value);

}  // namespace velm
