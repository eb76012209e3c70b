// Marks a function a shared library exports by name.
#pragma once

#if defined(_WIN32)
#define QLCORE_EXPORT __declspec(dllexport)
#else
#define QLCORE_EXPORT __attribute__((visibility("default")))
#endif
