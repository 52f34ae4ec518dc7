// Included by the generated entry-point files.
#pragma once
#include "frame/frame.h"
#include "constants.h"
#include "fallbacks.h"
#include "frame/plain.h"
#include "frame/variant.h"
#define QARN_API __attribute__((visibility("default")))
