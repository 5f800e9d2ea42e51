#pragma once
// libmcreg.so is built with hidden visibility: only what carries MCREG_API
// (the classes and functions of the public headers) is exported. The tests
// link the same objects statically and see everything.
#if defined(__GNUC__) || defined(__clang__)
#define MCREG_API __attribute__((visibility("default")))
#else
#define MCREG_API
#endif
