# Locates the Debian-packaged dependencies. BoringSSL comes from the
# android-libboringssl-dev package; OpenSSL is also installed on these machines
# and must never be seen by our code, so BoringSSL's include folder is put
# ahead of the system's and its libcrypto is linked by full path.

find_package(absl REQUIRED CONFIG)
find_package(GTest REQUIRED CONFIG)
find_package(PkgConfig REQUIRED)
pkg_check_modules(LIBEVENT REQUIRED IMPORTED_TARGET libevent_core)
pkg_check_modules(PROTOBUF REQUIRED IMPORTED_TARGET protobuf)
find_package(double-conversion REQUIRED CONFIG)
if(KELM_BUILD_BENCHMARKS)
  find_package(benchmark REQUIRED CONFIG)
endif()

# The static archives that Debian ships beside the shared libraries of
# Abseil, libevent, protobuf and double-conversion, in place of those shared
# libraries. The tool runs for a few milliseconds, and loading, relocating
# and initialising forty shared libraries more (48 against 8) was about a
# third of that time and memory (see benchmarks/tarvik_verify); from the archives the linker
# takes only the objects a program uses. Our own libraries are static too,
# and the only shared library we build (dev/kelm_core_auth) uses none of
# these, so every process holds one copy of each library's state.
option(KELM_STATIC_DEPENDENCIES
       "Link the static archives of Abseil, libevent, protobuf and double-conversion"
       ON)
if(KELM_STATIC_DEPENDENCIES)
  # Imported shared libraries: the archive beside each, found by name.
  set(kelm_shared_targets double-conversion::double-conversion)
  get_directory_property(kelm_imported_targets IMPORTED_TARGETS)
  foreach(kelm_target IN LISTS kelm_imported_targets)
    if(kelm_target MATCHES "^absl::")
      list(APPEND kelm_shared_targets ${kelm_target})
    endif()
  endforeach()
  foreach(kelm_target IN LISTS kelm_shared_targets)
    foreach(kelm_config NONE NOCONFIG)
      get_target_property(kelm_location ${kelm_target}
                          IMPORTED_LOCATION_${kelm_config})
      if(NOT kelm_location)
        continue()
      endif()
      string(REGEX REPLACE "\\.so(\\.[0-9.]+)?$" ".a" kelm_archive
             "${kelm_location}")
      if(EXISTS "${kelm_archive}")
        set_target_properties(${kelm_target} PROPERTIES
          IMPORTED_LOCATION_${kelm_config} "${kelm_archive}"
          IMPORTED_SONAME_${kelm_config} "")
      endif()
    endforeach()
  endforeach()
  # pkg-config's targets list the shared libraries by full path.
  foreach(kelm_target PkgConfig::LIBEVENT PkgConfig::PROTOBUF)
    get_target_property(kelm_libraries ${kelm_target} INTERFACE_LINK_LIBRARIES)
    set(kelm_static_libraries)
    foreach(kelm_library IN LISTS kelm_libraries)
      string(REGEX REPLACE "\\.so$" ".a" kelm_archive "${kelm_library}")
      if(kelm_archive MATCHES "\\.a$" AND EXISTS "${kelm_archive}")
        set(kelm_library "${kelm_archive}")
      endif()
      list(APPEND kelm_static_libraries "${kelm_library}")
    endforeach()
    set_target_properties(${kelm_target} PROPERTIES
      INTERFACE_LINK_LIBRARIES "${kelm_static_libraries}")
  endforeach()
endif()

set(KELM_BORINGSSL_INCLUDE_DIR /usr/include/android)
set(KELM_BORINGSSL_LIB_DIR /usr/lib/${CMAKE_LIBRARY_ARCHITECTURE}/android)
if(NOT EXISTS ${KELM_BORINGSSL_INCLUDE_DIR}/openssl/base.h OR
   NOT EXISTS ${KELM_BORINGSSL_LIB_DIR}/libcrypto.so)
  message(FATAL_ERROR "BoringSSL not found: install android-libboringssl-dev")
endif()

add_library(boringssl_crypto INTERFACE)
target_include_directories(boringssl_crypto SYSTEM BEFORE INTERFACE
                           ${KELM_BORINGSSL_INCLUDE_DIR})
target_link_libraries(boringssl_crypto INTERFACE
                      ${KELM_BORINGSSL_LIB_DIR}/libcrypto.so)
target_link_options(boringssl_crypto INTERFACE
                    "LINKER:-rpath,${KELM_BORINGSSL_LIB_DIR}")

add_library(boringssl_ssl INTERFACE)
target_link_libraries(boringssl_ssl INTERFACE boringssl_crypto
                      ${KELM_BORINGSSL_LIB_DIR}/libssl.so)

# Fails the configure step when the compiler would pick up OpenSSL's headers.
include(CheckCXXSourceCompiles)
set(CMAKE_REQUIRED_INCLUDES ${KELM_BORINGSSL_INCLUDE_DIR})
check_cxx_source_compiles([=[
#include <openssl/base.h>
#ifndef OPENSSL_IS_BORINGSSL
#error "OpenSSL headers found instead of BoringSSL"
#endif
int main() { return 0; }
]=] KELM_HAVE_BORINGSSL_HEADERS)
unset(CMAKE_REQUIRED_INCLUDES)
if(NOT KELM_HAVE_BORINGSSL_HEADERS)
  message(FATAL_ERROR "BoringSSL headers are not the ones the compiler sees")
endif()
