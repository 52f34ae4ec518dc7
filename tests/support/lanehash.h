// A fingerprint of an export's lanes: the export called on a fixed set of operands
// (ordinary values of its interval, zeros, subnormals, infinities, NaNs with
// payloads, integer extremes), every live result lane hashed.  The operands do not
// depend on the width, so all widths of a family, precision and variant share one
// fingerprint; tests/golden/lane_hashes.txt records them, so that any change to any
// bit of any export shows up.
#pragma once
#include <cstdint>
#include <string>

#include "support/invoke.h"

namespace qarn::abi {

// `operands` (a multiple of 48) and `cross` (see lanehash.cpp) for other sets than
// the checked-in fingerprints'.
uint64_t lane_hash(const Invoker& inv, const reg::Export& e, int operands = 480, bool cross = false);
// The operands of the fingerprints taken in each rounding mode (qarn hash --modes).
inline constexpr int kModeOperands = 960;
// "stem variant" of an export: the key of its fingerprint.
std::string hash_key(const reg::Export& e);

}  // namespace qarn::abi
