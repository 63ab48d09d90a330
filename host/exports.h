// Entry points that the host environment finds by name in the program.
#pragma once

#ifdef _WIN32
#define ZAV_EXPORT extern "C" __declspec(dllexport)
#else
#define ZAV_EXPORT extern "C"
#endif
