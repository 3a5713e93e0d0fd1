# The folders depend on each other as a tree, and the build holds it: a target sees the headers
# of its own folder and of the targets it links, and nothing else.
#
# coilhatch_expose_folder(TARGET): the folder of the calling CMakeLists.txt becomes includable as
# "<folder below the source root>/<File>.h" (e.g. "registry/ScriptList.h") by TARGET and by
# whatever links TARGET. A symbolic link to the folder is made below an include root of TARGET's
# own in the build tree, so no target is given the whole source tree.
function(coilhatch_expose_folder target)
  file(RELATIVE_PATH folder ${CMAKE_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
  set(root ${CMAKE_BINARY_DIR}/include/${target})
  get_filename_component(parent ${root}/${folder} DIRECTORY)
  file(MAKE_DIRECTORY ${parent})
  file(CREATE_LINK ${CMAKE_CURRENT_SOURCE_DIR} ${root}/${folder} SYMBOLIC)
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "INTERFACE_LIBRARY")
    target_include_directories(${target} INTERFACE ${root})
  else()
    target_include_directories(${target} PUBLIC ${root})
  endif()
endfunction()
