// Included by the generated entry-point files.
#pragma once
#include "frame/frame.h"
#include "constants.h"
#include "fallbacks.h"
#include "frame/plain.h"
#include "frame/variant.h"
#ifdef _WIN32
#define QARN_API __attribute__((dllexport))
#else
#define QARN_API __attribute__((visibility("default")))
#endif
