#pragma once

// Marks what the shared library exports: the functions declared in these headers. Everything else
// in it is built hidden, so a program linked against it can reach only what is declared here.
//
// On Windows a DLL exports what its build marks dllexport and its users import it marked
// dllimport: the library's own build defines OXTREL_BUILDING_LIBRARY. A program linked against
// the static library defines OXTREL_STATIC, and nothing is marked.

#if defined(_WIN32)
#if defined(OXTREL_STATIC)
#define OXTREL_API
#elif defined(OXTREL_BUILDING_LIBRARY)
#define OXTREL_API __declspec(dllexport)
#else
#define OXTREL_API __declspec(dllimport)
#endif
#elif defined(__GNUC__)
#define OXTREL_API __attribute__((visibility("default")))
#else
#define OXTREL_API
#endif
