if(WIN32)
  include(${CMAKE_CURRENT_LIST_DIR}/KofWindowsDeps.cmake)
else()
  find_package(PkgConfig REQUIRED)
  find_package(Threads REQUIRED)
  find_package(OpenSSL 3 REQUIRED)
  find_package(CURL REQUIRED)
  find_package(nlohmann_json 3 REQUIRED)
  pkg_check_modules(SODIUM REQUIRED IMPORTED_TARGET libsodium)
endif()

# Warnings as errors for our own code only (not for third-party headers).
add_library(kof_options INTERFACE)
target_compile_options(kof_options INTERFACE "$<$<COMPILE_LANGUAGE:C,CXX>:-Wall;-Wextra;-Werror>"
  # g++ 12 reports "may overlap" on string concatenation at -O3 (a known false positive).
  $<$<AND:$<COMPILE_LANGUAGE:CXX>,$<CXX_COMPILER_ID:GNU>>:-Wno-restrict>)
target_include_directories(kof_options INTERFACE ${PROJECT_SOURCE_DIR})
target_compile_definitions(kof_options INTERFACE
  KOF_VERSION_MAJOR=${PROJECT_VERSION_MAJOR}
  KOF_VERSION_MINOR=${PROJECT_VERSION_MINOR}
  KOF_VERSION_PATCH=${PROJECT_VERSION_PATCH})

if(KOF_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()
if(KOF_FUZZ)
  # Instrument every library for coverage; fuzz targets add the libFuzzer driver.
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

# kof_library(NAME SOURCES a.cpp ... DEPS target ...)
# One static library per subsystem folder.
function(kof_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_link_libraries(${name} PUBLIC kof_options ${ARG_DEPS})
endfunction()

# kof_test(NAME SOURCES a.cpp ... DEPS target ... [LABELS l ...] [TIMEOUT seconds])
# TIMEOUT bounds each test of the executable on its own.
function(kof_test name)
  cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;DEPS;LABELS" ${ARGN})
  if(NOT KOF_TESTS)
    return()
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE kof_options ${ARG_DEPS} GTest::gtest GTest::gmock GTest::gtest_main)
  set(props "")
  if(ARG_TIMEOUT)
    list(APPEND props TIMEOUT ${ARG_TIMEOUT})
  endif()
  if(ARG_LABELS)
    list(APPEND props LABELS "${ARG_LABELS}")
  endif()
  if(props)
    set(props PROPERTIES ${props})
  endif()
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 ${props})
endfunction()

# Tests find the source and build folders through the environment; ctest reads
# this file before it runs any test, so every test process inherits them.
file(WRITE ${PROJECT_BINARY_DIR}/KofTestEnvironment.cmake
  "set(ENV{KOF_SOURCE_DIR} \"${PROJECT_SOURCE_DIR}\")\nset(ENV{KOF_BINARY_DIR} \"${PROJECT_BINARY_DIR}\")\n")
set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY TEST_INCLUDE_FILES ${PROJECT_BINARY_DIR}/KofTestEnvironment.cmake)
