// The module's end on ELF systems. The connection pool shuts itself down at
// exit and at unload; what remains is the C++ runtime linked into the
// library, whose emergency exception buffer would otherwise stay behind on
// the heap after every unload.
#ifdef VFB_STATIC_CXX_RUNTIME
namespace __gnu_cxx {
void __freeres() noexcept;
}

__attribute__((destructor)) static void ReleaseRuntime() { __gnu_cxx::__freeres(); }
#endif
