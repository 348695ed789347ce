// The program's own allocation: the process heap, and none (a null pointer)
// when memory runs out, so that constructors can report it as a result.
#include <windows.h>

#include <new>

// One allocation and one release; every other form passes on to them, so
// the program carries their code once.
void* operator new(size_t size) { return HeapAlloc(GetProcessHeap(), 0, size ? size : 1); }
void* operator new[](size_t size) { return operator new(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept { return operator new(size); }
void* operator new[](size_t size, const std::nothrow_t&) noexcept { return operator new(size); }
void operator delete(void* p) noexcept { if (p) HeapFree(GetProcessHeap(), 0, p); }
void operator delete[](void* p) noexcept { operator delete(p); }
void operator delete(void* p, size_t) noexcept { operator delete(p); }
void operator delete[](void* p, size_t) noexcept { operator delete(p); }

// The nothrow tag, defined here: the runtime's unit that defines it brings a
// new-handler and its unwind table along, which this program never uses.
namespace std {
const nothrow_t nothrow{};
}

// A pure virtual call is a bug; end the process rather than pull in the
// runtime's handler.
extern "C" void __cxa_pure_virtual() { ExitProcess(3); }
