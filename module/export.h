// Marks the functions a host looks up by name in this module.
#pragma once

#ifdef _WIN32
#define KESTRELLE_EXPORT extern "C" __declspec(dllexport)
#else
#define KESTRELLE_EXPORT extern "C" __attribute__((visibility("default")))
#endif
