find_package(PkgConfig REQUIRED)
find_package(Threads REQUIRED)
find_package(OpenSSL 3 REQUIRED)
find_package(CURL REQUIRED)
find_package(nlohmann_json 3 REQUIRED)
pkg_check_modules(SODIUM REQUIRED IMPORTED_TARGET libsodium)

# Warnings as errors for our own code only (not for third-party headers).
add_library(kof_options INTERFACE)
target_compile_options(kof_options INTERFACE -Wall -Wextra -Werror)
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

# kof_test(NAME SOURCES a.cpp ... DEPS target ... [LABELS l ...])
function(kof_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS;LABELS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE kof_options ${ARG_DEPS} GTest::gtest GTest::gmock GTest::gtest_main)
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60
    PROPERTIES LABELS "${ARG_LABELS}"
               ENVIRONMENT "KOF_SOURCE_DIR=${PROJECT_SOURCE_DIR};KOF_BINARY_DIR=${PROJECT_BINARY_DIR}")
endfunction()
