# Compile options shared by every target: warnings are errors on both
# compilers, sanitizers and fuzzing on request.
option(TOLLARD_SANITIZE "Build with address and undefined-behaviour sanitizers" OFF)
option(TOLLARD_BENCHMARKS "Build the benchmarks" OFF)
option(TOLLARD_FUZZ "Build the fuzz targets (clang only)" OFF)

add_library(tollard_options INTERFACE)
target_compile_options(tollard_options INTERFACE -Wall -Wextra -Werror -Wshadow
                       -Wnon-virtual-dtor -Wno-missing-field-initializers)
if(TOLLARD_SANITIZE)
  target_compile_options(tollard_options INTERFACE -fsanitize=address,undefined
                         -fno-sanitize-recover=all -fno-omit-frame-pointer)
  target_link_options(tollard_options INTERFACE -fsanitize=address,undefined)
endif()
if(WIN32)
  # One self-contained .exe: no libstdc++ or libgcc DLLs beside it.
  target_link_options(tollard_options INTERFACE -static -static-libgcc -static-libstdc++)
  # GCC 12 at -O3 reports std::string concatenation as overlapping memcpy
  # (GCC bug 105329, a false positive).
  target_compile_options(tollard_options INTERFACE -Wno-restrict)
  target_compile_definitions(tollard_options INTERFACE WIN32_LEAN_AND_MEAN NOMINMAX
                             _WIN32_WINNT=0x0601 _WIN32_DCOM)
endif()
