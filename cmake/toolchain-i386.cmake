# 32-bit build on an x86-64 Debian host (g++-multilib and the :i386 -dev packages).
set(CMAKE_C_FLAGS_INIT "-m32")
set(CMAKE_CXX_FLAGS_INIT "-m32")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m32")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-m32")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-m32")
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)
set(ENV{PKG_CONFIG_LIBDIR} "/usr/lib/i386-linux-gnu/pkgconfig:/usr/share/pkgconfig")
list(APPEND CMAKE_PREFIX_PATH /usr/lib/i386-linux-gnu/cmake)
set(CMAKE_IGNORE_PATH /usr/lib/x86_64-linux-gnu /usr/lib/x86_64-linux-gnu/cmake)
# This machine's kernel may not run 32-bit programs; tests and build-time tools
# of this build run under user-mode emulation.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-i386 -L /)
