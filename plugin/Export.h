// Visibility of the plug-in's symbols: the library is built with hidden
// visibility, and only the plug-in entry points and the library entry points
// are marked for export.
#pragma once

#define ZEP_EXPORT __attribute__((visibility("default")))
