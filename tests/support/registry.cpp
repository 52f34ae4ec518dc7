#include "support/registry.h"

#include <string>

namespace qarn::reg {
namespace {
const Export kExports[] = {
#include "registry.inc"
};
}  // namespace

std::span<const Export> all() { return kExports; }

const Export* find(std::string_view name) {
  if (name.substr(0, kPrefix.size()) != kPrefix) return find(std::string(kPrefix) + std::string(name));
  for (const Export& e : kExports)
    if (name == e.name) return &e;
  return nullptr;
}
const char* short_name(const Export& e) { return e.name + kPrefix.size(); }
const Export* sibling(const Export& e, int width) {
  std::string v = std::string(e.variant) == "default" ? "" : e.variant;
  return find(std::string(e.stem) + std::to_string(width) + v);
}
}  // namespace qarn::reg
