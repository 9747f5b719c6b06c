# What the Windows build links instead of the Debian libraries of the Linux build. The system
# itself gives locale, code pages, MD5 and threads; the rest is compiled here from sources that
# scripts/setup --windows fetched into TUNEDEX_WINDOWS_DEPS. Header-only libraries come from
# Debian's packages through include folders that hold them alone, never through all of /usr/include.

set(TUNEDEX_WINDOWS_DEPS "${PROJECT_SOURCE_DIR}/build-win/deps" CACHE PATH
    "Sources fetched by scripts/setup --windows")
if(NOT EXISTS "${TUNEDEX_WINDOWS_DEPS}/sqlite3/sqlite3.c")
  message(FATAL_ERROR "No SQLite sources in ${TUNEDEX_WINDOWS_DEPS}: run scripts/setup --windows")
endif()

# Windows 8 APIs (the thread pool, LCMapStringEx, GetTickCount64) and wide-character functions.
# localtime_r and gmtime_r as POSIX has them.
add_compile_definitions(_WIN32_WINNT=0x0602 WINVER=0x0602 UNICODE _UNICODE NOMINMAX WIN32_LEAN_AND_MEAN
  _POSIX_THREAD_SAFE_FUNCTIONS)

# tunedex_header_folder(TARGET FOLDER...): an interface target whose include root holds only the
# named folders or files of /usr/include.
function(tunedex_header_folder target)
  set(root "${PROJECT_BINARY_DIR}/include/${target}")
  file(MAKE_DIRECTORY "${root}")
  foreach(item IN LISTS ARGN)
    if(NOT EXISTS "${root}/${item}")
      file(CREATE_LINK "/usr/include/${item}" "${root}/${item}" SYMBOLIC)
    endif()
  endforeach()
  add_library(${target} INTERFACE)
  target_include_directories(${target} SYSTEM INTERFACE "${root}")
endfunction()

tunedex_header_folder(tunedex_rapidjson rapidjson)
tunedex_header_folder(tunedex_cli11 CLI)
add_library(CLI11::CLI11 ALIAS tunedex_cli11)

# SQLite in serialized mode: one connection may be used from several threads.
add_library(tunedex_sqlite3 STATIC "${TUNEDEX_WINDOWS_DEPS}/sqlite3/sqlite3.c")
target_include_directories(tunedex_sqlite3 SYSTEM PUBLIC "${TUNEDEX_WINDOWS_DEPS}/sqlite3")
target_compile_definitions(tunedex_sqlite3 PRIVATE SQLITE_THREADSAFE=1)
# Warnings of a source that is not ours would only hide our own.
target_compile_options(tunedex_sqlite3 PRIVATE -w)
add_library(SQLite::SQLite3 ALIAS tunedex_sqlite3)

# cpp-httplib as one header, for the host's server and the tests' loopback servers (no TLS: the
# Windows build has no OpenSSL).
add_library(tunedex_httplib INTERFACE)
target_include_directories(tunedex_httplib SYSTEM INTERFACE "${TUNEDEX_WINDOWS_DEPS}/httplib")
target_link_libraries(tunedex_httplib INTERFACE ws2_32 crypt32)
add_library(PkgConfig::HTTPLIB ALIAS tunedex_httplib)
