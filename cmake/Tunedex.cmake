# Helpers shared by the folder CMakeLists, so that adding a unit is one line in its folder's list.

# tunedex_include_root(TARGET PUBLIC|INTERFACE FOLDER): gives TARGET an include root of its own that
# holds only FOLDER (a link to the source folder), so units are included as "nuv/Nuv.SQLite3.h". A
# target sees the roots of itself and of the targets it links, which are the layers below it: an
# include of a higher layer's header does not compile.
function(tunedex_include_root target scope folder)
  set(root "${PROJECT_BINARY_DIR}/include/${target}")
  get_filename_component(parent "${root}/${folder}" DIRECTORY)
  file(MAKE_DIRECTORY "${parent}")
  file(CREATE_LINK "${PROJECT_SOURCE_DIR}/${folder}" "${root}/${folder}" SYMBOLIC)
  target_include_directories(${target} ${scope} "${root}")
endfunction()

# tunedex_library(TARGET [SHARED|STATIC] SOURCES ... LINKS ...): one layer's target, whose include
# root offers the folder it is declared in.
function(tunedex_library target kind)
  cmake_parse_arguments(ARG "" "" "SOURCES;LINKS;PRIVATE_LINKS" ${ARGN})
  add_library(${target} ${kind} ${ARG_SOURCES})
  file(RELATIVE_PATH folder "${PROJECT_SOURCE_DIR}" "${CMAKE_CURRENT_SOURCE_DIR}")
  tunedex_include_root(${target} PUBLIC ${folder})
  target_link_libraries(${target} PUBLIC ${ARG_LINKS} PRIVATE ${ARG_PRIVATE_LINKS})
endfunction()

# tunedex_resources(TARGET FOLDER): compiles every file directly under FOLDER into TARGET as a
# byte array found by TOrvoResources::Find(name, type): "refresh.png" becomes name "refresh", type
# "PNG". The generated source is added to TARGET itself (not to a static library) so that the
# linker keeps its registration.
function(tunedex_resources target folder)
  file(GLOB files CONFIGURE_DEPENDS "${folder}/*")
  get_filename_component(folder_name "${folder}" NAME)
  set(output "${CMAKE_CURRENT_BINARY_DIR}/${target}_${folder_name}_resources.cpp")
  add_custom_command(
    OUTPUT "${output}"
    COMMAND ${CMAKE_COMMAND} -DOUTPUT=${output} "-DFILES=${files}"
            -P "${PROJECT_SOURCE_DIR}/cmake/EmbedResources.cmake"
    DEPENDS ${files} "${PROJECT_SOURCE_DIR}/cmake/EmbedResources.cmake"
    COMMENT "Embedding resources of ${target}"
    VERBATIM)
  target_sources(${target} PRIVATE "${output}")
endfunction()
