#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

// Files read whole into memory (meshes and scene files), and the memory hints that large
// blocks of them take.

// What became of reading a file whole.
enum class fileFault { none, missing, unopenable, notRegular, tooLarge, unreadable };

struct wholeFile {
    std::unique_ptr<char[]> data; // size bytes, and one more that holds 0
    size_t size = 0;
    fileFault fault = fileFault::none;
    int error = 0;         // errno of an open that failed
    const char* kind = ""; // what a path that is no regular file names: "a directory", "a FIFO", ...
    long long fileSize = 0; // the size found, for tooLarge
};

// Reads a regular file of at most limit bytes whole. Opened without blocking, so that a FIFO
// cannot stall the program; a device, folder or socket is refused before anything is read.
wholeFile readWholeFile(const std::string& path, long long limit);

// The whole pages of `page` bytes (a power of two) inside a block; none (bytes 0) when it holds
// no whole page.
struct pageSpan {
    uintptr_t first = 0;
    size_t bytes = 0;
};
pageSpan wholePages(const void* start, size_t bytes, uintptr_t page);

// Blocks written once, front to back, right after they are made cost less in 2 MB pages than
// faulted in 4 KB at a time: asks for them where the system offers them. Only a hint.
void preferLargePages(const void* start, size_t bytes);
