// Accuracy variants of an export: none (default), _native, _half, _rm.
#pragma once
namespace qarn {
enum class var { def, native, half, rm };
}
