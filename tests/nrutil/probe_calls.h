// Forced into the Windows build's own copy of nrutil.cpp: MinGW's static
// link cannot wrap the C runtime's calloc and free, so the library's calls
// are renamed to the test's wrappers before its source is read.
#pragma once

#include <cstdlib>

extern "C" void* __wrap_calloc(std::size_t n, std::size_t size);
extern "C" void __wrap_free(void* p);
namespace std {
using ::__wrap_calloc;
using ::__wrap_free;
} // namespace std

#define calloc __wrap_calloc
#define free __wrap_free
