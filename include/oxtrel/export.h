#pragma once

// Marks what the shared library exports: the functions declared in these headers. Everything else
// in it is built hidden, so a program linked against it can reach only what is declared here.

#if defined(__GNUC__)
#define OXTREL_API __attribute__((visibility("default")))
#else
#define OXTREL_API
#endif
