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
