# Helpers shared by the folder CMakeLists, so that adding a unit is one line in its folder's list.

# tunedex_library(TARGET [SHARED|STATIC] SOURCES ... LINKS ...): one layer's target, with the
# repository root as include root so units are included as "nuv/Nuv.SQLite3.h".
function(tunedex_library target kind)
  cmake_parse_arguments(ARG "" "" "SOURCES;LINKS;PRIVATE_LINKS" ${ARGN})
  add_library(${target} ${kind} ${ARG_SOURCES})
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${target} PUBLIC ${ARG_LINKS} PRIVATE ${ARG_PRIVATE_LINKS})
endfunction()
