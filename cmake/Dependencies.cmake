# Third-party libraries: Debian's packages natively; for the MinGW target,
# libbz2 and GoogleTest are built by scripts/build-win-deps.sh into deps/.
if(WIN32)
  set(NIMBREL_WIN_DEPS "${CMAKE_SOURCE_DIR}/deps/mingw" CACHE PATH "MinGW dependency prefix")
  add_library(BZip2::BZip2 STATIC IMPORTED GLOBAL)
  set_target_properties(BZip2::BZip2 PROPERTIES
    IMPORTED_LOCATION "${NIMBREL_WIN_DEPS}/lib/libbz2.a"
    INTERFACE_INCLUDE_DIRECTORIES "${NIMBREL_WIN_DEPS}/include")
  if(NOT EXISTS "${NIMBREL_WIN_DEPS}/lib/libbz2.a")
    message(FATAL_ERROR "libbz2 for MinGW is missing from ${NIMBREL_WIN_DEPS}. Build it once "
                        "(as root, on Debian 12) with\n  ${CMAKE_SOURCE_DIR}/scripts/build-win-deps.sh\n"
                        "then configure again: cmake --preset windows")
  endif()
  # libzstd, compiled by the same script from Debian's zstd sources.
  add_library(Zstd::Zstd STATIC IMPORTED GLOBAL)
  set_target_properties(Zstd::Zstd PROPERTIES
    IMPORTED_LOCATION "${NIMBREL_WIN_DEPS}/lib/libzstd.a"
    INTERFACE_INCLUDE_DIRECTORIES "${NIMBREL_WIN_DEPS}/include")
  if(NOT EXISTS "${NIMBREL_WIN_DEPS}/lib/libzstd.a")
    message(FATAL_ERROR "libzstd for MinGW is missing from ${NIMBREL_WIN_DEPS}. Build it with\n"
                        "  ${CMAKE_SOURCE_DIR}/scripts/build-win-deps.sh")
  endif()
  # GoogleTest compiled from Debian's sources with the cross compiler.
  set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest "${CMAKE_BINARY_DIR}/googletest" EXCLUDE_FROM_ALL)
  # Recent GoogleTest sources define the GTest:: names themselves.
  if(NOT TARGET GTest::gtest)
    add_library(GTest::gtest ALIAS gtest)
  endif()
  if(NOT TARGET GTest::gtest_main)
    add_library(GTest::gtest_main ALIAS gtest_main)
  endif()
else()
  find_package(BZip2 REQUIRED)
  find_package(GTest REQUIRED)
  find_package(Threads REQUIRED)
  find_package(JPEG REQUIRED)
  find_package(SQLite3 REQUIRED)
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(ZSTD REQUIRED IMPORTED_TARGET GLOBAL libzstd)
  add_library(Zstd::Zstd ALIAS PkgConfig::ZSTD)
endif()
include(GoogleTest)
