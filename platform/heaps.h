// Memory: the object allocator, the run-time heap, private heaps and the task
// allocator. Every allocation of the system goes through one of these.
#pragma once

#include "platform/types.h"

// Object allocator: objects and arrays that pass between objects.
QUIB_PLATFORM_API void* ObjectAlloc(std::size_t bytes);
QUIB_PLATFORM_API void ObjectFree(void* block);

// Run-time heap: raw blocks that are grown in place or moved (allocate,
// reallocate, free). A failed reallocation leaves the old block untouched.
QUIB_PLATFORM_API void* RtHeapAlloc(std::size_t bytes);
QUIB_PLATFORM_API void* RtHeapRealloc(void* block, std::size_t bytes);
QUIB_PLATFORM_API void RtHeapFree(void* block);

// Private heaps. Destroying a heap frees every block still allocated from it.
QUIB_PLATFORM_API HANDLE HeapCreate(DWORD options, std::size_t initialSize, std::size_t maximumSize);
QUIB_PLATFORM_API void* HeapAlloc(HANDLE heap, DWORD flags, std::size_t bytes);
QUIB_PLATFORM_API BOOL HeapFree(HANDLE heap, DWORD flags, void* block);
QUIB_PLATFORM_API BOOL HeapDestroy(HANDLE heap);

// Task allocator: memory that one party allocates and another frees.
QUIB_PLATFORM_API void* CoTaskMemAlloc(std::size_t bytes);
QUIB_PLATFORM_API void* CoTaskMemRealloc(void* block, std::size_t bytes);
QUIB_PLATFORM_API void CoTaskMemFree(void* block);
