// SPDX-License-Identifier: MIT
#pragma once

// Python's headers name a struct member "slots", which Qt defines as a keyword: pybind11 comes in
// with the keyword lifted, whatever Qt header came before.
#pragma push_macro("slots")
#undef slots
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>
#pragma pop_macro("slots")
