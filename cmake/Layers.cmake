# nb_export_folder(<target> <folder> [PRIVATE]): the target's users see the headers of
# <folder> as "<name>/<file>.h" (name = the folder's own name) and nothing
# beside it. A link to the folder under the build tree is the only include
# root the target hands on, so a file that includes a header of a library
# it does not link fails to compile. PRIVATE: only the target itself sees
# the folder.
function(nb_export_folder target folder)
  get_filename_component(name ${folder} NAME)
  set(root ${CMAKE_BINARY_DIR}/exports/${name})
  file(MAKE_DIRECTORY ${root})
  if(NOT EXISTS ${root}/${name})
    file(CREATE_LINK ${folder} ${root}/${name} SYMBOLIC)
  endif()
  get_target_property(type ${target} TYPE)
  if(ARGV2 STREQUAL "PRIVATE")
    target_include_directories(${target} PRIVATE ${root})
  elseif(type STREQUAL "INTERFACE_LIBRARY")
    target_include_directories(${target} INTERFACE ${root})
  else()
    target_include_directories(${target} PUBLIC ${root})
  endif()
endfunction()
