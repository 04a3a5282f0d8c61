// Process-wide objects come into being in a fixed order and go in exactly the reverse order.
// Each module with process-wide state has a row; the entry routine owns one TProcessModules.
#pragma once

#include <cstddef>
#include <vector>

namespace velm {

struct TProcessModule {
  int Order;         // position in the start-up order
  const char* Name;  // the module's name
  void (*Initialize)();
  void (*Finalize)();  // may be null when another module releases what this one made
};

// The engine's rows (no windows), in start-up order.
std::vector<TProcessModule> CoreProcessModules();
// The engine's rows merged with further rows (the windows' modules), sorted by Order.
std::vector<TProcessModule> ProcessModulesWith(const std::vector<TProcessModule>& extra);

class TProcessModules {
 public:
  // Initialises the rows in order. If one throws, the rows already done are finalised in reverse
  // and the exception goes on to the caller.
  explicit TProcessModules(std::vector<TProcessModule> rows);
  ~TProcessModules();
  TProcessModules(const TProcessModules&) = delete;
  TProcessModules& operator=(const TProcessModules&) = delete;

 private:
  void FinalizeDone();

  std::vector<TProcessModule> fRows;
  std::size_t fDone = 0;
};

}  // namespace velm
