#include "support/registry.h"

namespace qarn::reg {
namespace {
const Export kExports[] = {
#include "registry.inc"
};
}  // namespace

std::span<const Export> all() { return kExports; }

const Export* find(std::string_view name) {
  for (const Export& e : kExports)
    if (name == e.name) return &e;
  return nullptr;
}
}  // namespace qarn::reg
