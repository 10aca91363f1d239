# The libraries of the Windows build, all static, from the prefix KOF_WIN_DEPS;
# the targets carry the names the Linux build finds, so no subsystem differs.
if(NOT KOF_WIN_DEPS OR NOT EXISTS ${KOF_WIN_DEPS}/lib/libcurl.a)
  message(FATAL_ERROR "KOF_WIN_DEPS must name the prefix of the Windows libraries (scripts/build-windows)")
endif()
set(THREADS_PREFER_PTHREAD_FLAG ON)
find_package(Threads REQUIRED)

function(kof_static_import target library)
  add_library(${target} STATIC IMPORTED GLOBAL)
  set_target_properties(${target} PROPERTIES IMPORTED_LOCATION ${KOF_WIN_DEPS}/lib/${library}
                                             INTERFACE_INCLUDE_DIRECTORIES ${KOF_WIN_DEPS}/include)
endfunction()

kof_static_import(OpenSSL::Crypto libcrypto.a)
set_property(TARGET OpenSSL::Crypto PROPERTY INTERFACE_LINK_LIBRARIES ws2_32 crypt32 bcrypt)
kof_static_import(OpenSSL::SSL libssl.a)
set_property(TARGET OpenSSL::SSL PROPERTY INTERFACE_LINK_LIBRARIES OpenSSL::Crypto)
kof_static_import(CURL::libcurl libcurl.a)
set_target_properties(CURL::libcurl PROPERTIES INTERFACE_COMPILE_DEFINITIONS CURL_STATICLIB
                                               INTERFACE_LINK_LIBRARIES "OpenSSL::SSL;ws2_32;crypt32;bcrypt;wldap32")
kof_static_import(PkgConfig::SODIUM libsodium.a)
set_property(TARGET PkgConfig::SODIUM PROPERTY INTERFACE_COMPILE_DEFINITIONS SODIUM_STATIC)
set_property(TARGET PkgConfig::SODIUM PROPERTY INTERFACE_LINK_LIBRARIES advapi32)

# nlohmann-json is headers only: the host's copy, without the rest of /usr/include.
set(kof_host_headers ${PROJECT_BINARY_DIR}/host-headers)
file(MAKE_DIRECTORY ${kof_host_headers})
file(CREATE_LINK /usr/include/nlohmann ${kof_host_headers}/nlohmann SYMBOLIC)
add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED GLOBAL)
set_target_properties(nlohmann_json::nlohmann_json PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${kof_host_headers})

# A DLL and test programs that need nothing but system DLLs beside them.
add_compile_definitions(_WIN32_WINNT=0x0A00 WINVER=0x0A00 __USE_MINGW_ANSI_STDIO=1)
add_link_options(-static -static-libgcc -static-libstdc++)
