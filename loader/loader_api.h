// The three entries of libkalvosan.so as the program binds them by name (C linkage).
// The guarantees the library gives are stated in loader/loader_library.cpp.
#pragma once

#include <QString>

class QListWidget;

extern "C" {
using LoaderStartFn = int (*)(QListWidget *listBox, QString path);
using LoaderStopFn = int (*)();
using LoaderFinishFn = int (*)();
}

inline constexpr const char *kLoaderLibraryName = "libkalvosan.so";
