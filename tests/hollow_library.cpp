// Stands in for a decompression library by its name alone: it holds none of
// that library's functions.
extern "C" int hollow_library() { return 0; }
