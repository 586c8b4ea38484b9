# One interface target carries the language level, the warnings and the
# sanitizer flags, so every target of ours is built the same way.
add_library(kanaliko_options INTERFACE)
target_compile_features(kanaliko_options INTERFACE cxx_std_20)
target_compile_options(kanaliko_options INTERFACE
  -Wall -Wextra -Wnon-virtual-dtor -Wold-style-cast -Wno-missing-field-initializers
  # Fault signals become exceptions (EStructuredException): any instruction may throw.
  -fnon-call-exceptions)
# CI builds with warnings as errors; a developer's build only shows them.
option(KANALIKO_WERROR "Treat warnings as errors" OFF)
if(KANALIKO_WERROR)
  target_compile_options(kanaliko_options INTERFACE -Werror)
endif()
target_compile_definitions(kanaliko_options INTERFACE
  $<$<NOT:$<CONFIG:Release>>:_GLIBCXX_ASSERTIONS>)

if(KANALIKO_SANITIZE STREQUAL "address")
  # vptr checks give false stack reports with exceptions and hidden-visibility
  # shared libraries; the rest of UBSan stays on.
  set(_san -fsanitize=address,undefined -fno-sanitize=vptr -fno-sanitize-recover=all -fno-omit-frame-pointer)
elseif(KANALIKO_SANITIZE STREQUAL "thread")
  set(_san -fsanitize=thread -fno-omit-frame-pointer)
else()
  set(_san "")
endif()
if(_san)
  # Applied globally so that gtest/benchmark templates instantiated in our
  # binaries and every library we link agree on instrumentation.
  add_compile_options(${_san})
  add_link_options(${_san})
endif()

if(NOT CMAKE_BUILD_TYPE AND NOT CMAKE_CONFIGURATION_TYPES)
  set(CMAKE_BUILD_TYPE RelWithDebInfo CACHE STRING "" FORCE)
endif()
