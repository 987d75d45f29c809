// OS services the plug-in calls by their Windows names, provided on Linux.
//
// Only what the plug-in uses is here. Each function keeps its published
// signature and meaning; the comment says how this platform answers it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

extern "C" {

typedef int BOOL;

typedef union _LARGE_INTEGER {
    struct {
        std::uint32_t LowPart;
        std::int32_t HighPart;
    } u;
    std::int64_t QuadPart;
} LARGE_INTEGER;

// CLOCK_MONOTONIC in nanoseconds. Always succeeds (returns non-zero).
BOOL QueryPerformanceCounter(LARGE_INTEGER* count);
// 1e9 ticks per second, matching QueryPerformanceCounter.
BOOL QueryPerformanceFrequency(LARGE_INTEGER* frequency);

}

// Linux services behind the plug-in's utilities. Each answers what the
// Windows call it stands in for answered, in this platform's terms.
namespace lumadex::os {

// The file of the loaded module that holds `addressInside` (dladdr), as an
// absolute path; empty when it cannot be told.
std::string ModuleFilePath(const void* addressInside);

// The bytes of the ELF section `name` in the file `path`; nothing when the
// file cannot be read, is no 64-bit ELF file or has no such section. Sizes
// and offsets read from the file are checked against the file's own size.
std::optional<std::vector<unsigned char>> ReadElfSection(const std::string& path, const std::string& name);

// The folder a Windows special-folder code (CSIDL) stands for here, ending
// in '/', or nothing when the code has no counterpart. The create flag
// 0x8000 in `code` creates a missing folder (and its parents); without it a
// missing folder is nothing as well. The table is in user_folders.cpp.
std::optional<std::string> SpecialFolderPath(std::int32_t code);

// Opens `line` the way the Windows shell opens a file: the whole line is one
// file name or URL, never parsed by a shell. A line naming an executable (a
// path to an executable regular file, or a program found on PATH) starts
// that program with no arguments; anything else goes to the desktop's
// default application, `xdg-open` given the line as its one argument. The
// program runs in a session of its own, with default signal dispositions,
// no blocked signals and only standard input, output and error inherited;
// it is neither waited for nor left behind as a zombie. Runs no fork
// handlers. An empty line starts nothing. Returns false when nothing could
// be started (no xdg-open, no process); whether the program then runs is
// not known here.
bool StartDetached(const std::string& line);

// Registers, once per load of this library, a fork handler that ends the
// forking thread's OpenMP worker pool, so that a forked child can run
// parallel regions (GNU OpenMP's pools do not survive fork). The parent's
// next parallel region starts its workers afresh.
void KeepOpenMPUsableAfterFork();

// Ends the calling thread's OpenMP worker pool, joining its workers. For the
// end of a library that registered the fork handler: the handler goes when
// the library is unloaded, the runtime and its pools stay (their users pin
// them), and a pool left behind would hang a later fork's child. Not while
// the loader's lock is held (a destructor run by dlclose): an ending worker
// may need the loader.
void EndOpenMPWorkers();

// Scratch memory for one call, 64-byte aligned, uninitialised; null when
// memory runs out. Large buffers are asked for on transparent huge pages,
// which fault in faster: a caller that gives its buffer back when the call
// ends (rather than keep the largest one for the process's life) pays less
// for fresh pages at the next call. Freed by FreeScratch.
void* AllocateScratch(std::size_t bytes);
void FreeScratch(void* data);

}  // namespace lumadex::os
