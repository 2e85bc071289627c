# Strict warnings for every target of the project, as errors unless switched off,
# and the address/undefined-behaviour sanitizer switch.
add_library(harvix_warnings INTERFACE)
target_compile_options(harvix_warnings INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion
  -Wnon-virtual-dtor -Wold-style-cast -Wcast-align -Woverloaded-virtual
  -Wnull-dereference -Wdouble-promotion -Wformat=2 -Wimplicit-fallthrough)
if(HARVIX_WERROR)
  target_compile_options(harvix_warnings INTERFACE -Werror)
endif()
# GCC 12's optimiser reports overlapping copies inside libstdc++'s own string
# concatenation ("x" + std::string) that cannot happen (GCC bug 105651, mended in 13);
# at -O3 it fires on ordinary message building, so that one warning is off there.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
  target_compile_options(harvix_warnings INTERFACE -Wno-restrict)
endif()

if(HARVIX_SANITIZE OR HARVIX_FUZZ)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined -fno-sanitize-recover=all)
endif()

# The fuzzers steer by the coverage of the code under test, so every library of a fuzz
# build carries the coverage counters, not only the fuzz targets themselves.
if(HARVIX_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()

# Helper: a project library with the project's warnings.
function(harvix_library name)
  add_library(${name} ${ARGN})
  target_link_libraries(${name} PRIVATE harvix_warnings)
endfunction()

# Release builds (the ones packaged) get the hardening Debian builds its own packages
# with: checked string and memory functions, a stack protector, and relocations made
# read-only and bound at start. (A packager's own flags that set _FORTIFY_SOURCE win.)
if(CMAKE_BUILD_TYPE STREQUAL "Release" AND NOT HARVIX_SANITIZE AND NOT HARVIX_FUZZ)
  if(NOT "${CMAKE_CXX_FLAGS} ${CMAKE_CXX_FLAGS_RELEASE}" MATCHES "_FORTIFY_SOURCE")
    add_compile_definitions(_FORTIFY_SOURCE=2)
  endif()
  add_compile_options(-fstack-protector-strong)
  add_link_options(-Wl,-z,relro -Wl,-z,now)
endif()
