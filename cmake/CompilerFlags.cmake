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
