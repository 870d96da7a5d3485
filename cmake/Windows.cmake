# The Windows build (MinGW-w64 toolchains in cmake/toolchains/, driven by
# scripts/build-windows.sh): the module OstrelAntiPhishingBHO.dll, the tools
# ostrel-db.exe and ostrel-reg.exe, and, for 64-bit, the test programs that
# run under Wine. The same system sources as
# on Linux; the platform layer is Windows itself (src/platform/win32 holds
# the little it lacks). Every binary carries its C++ runtime, so nothing
# else needs to be shipped beside it.

# Boost.Regex, header-only (1.76 and later). The folder holding boost/ is
# reached through a folder of its own, so that the cross compiler never
# sees the build machine's other headers.
set(OSTREL_BOOST_ROOT /usr/include CACHE PATH "Folder holding boost/ (1.76 or later)")
if(NOT EXISTS ${OSTREL_BOOST_ROOT}/boost/regex.hpp)
  message(FATAL_ERROR "No Boost.Regex headers in ${OSTREL_BOOST_ROOT} (libboost1.81-dev)")
endif()
file(STRINGS ${OSTREL_BOOST_ROOT}/boost/version.hpp boost_version REGEX "define BOOST_VERSION ")
string(REGEX MATCH "[0-9]+" boost_version "${boost_version}")
if(boost_version LESS 107600)
  message(FATAL_ERROR "Boost ${boost_version} in ${OSTREL_BOOST_ROOT}: Boost.Regex is header-only from 1.76")
endif()
file(MAKE_DIRECTORY ${PROJECT_BINARY_DIR}/boost-include)
file(CREATE_LINK ${OSTREL_BOOST_ROOT}/boost ${PROJECT_BINARY_DIR}/boost-include/boost SYMBOLIC)
add_library(ostrel_regex INTERFACE)
target_include_directories(ostrel_regex SYSTEM INTERFACE ${PROJECT_BINARY_DIR}/boost-include)

find_package(Threads REQUIRED)
add_compile_definitions(UNICODE _UNICODE _WIN32_WINNT=0x0601 NOMINMAX)
# platform/*.h resolve to the Windows headers first, for every target, then
# to the shared ones in src/platform.
include_directories(BEFORE ${PROJECT_SOURCE_DIR}/src/platform/win32/include)
add_link_options(-static)

if(OSTREL_BUILD_TESTS)
  enable_testing()
endif()
add_subdirectory(src)
add_subdirectory(src/com)
add_subdirectory(tools)
# The test programs run under wine64, so only the 64-bit build has them.
if(OSTREL_BUILD_TESTS AND CMAKE_SIZEOF_VOID_P EQUAL 8)
  add_subdirectory(tests/windows)
endif()
