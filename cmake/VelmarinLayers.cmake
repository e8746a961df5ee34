# velmarin_expose(TARGET FOLDER)
#
# The target, and whoever links it, include the headers of src/FOLDER as
# "FOLDER/...", and no other folder of src/ through it. Each folder gets an
# include root of its own in the build tree holding one link to the folder,
# so a header of a library the target does not link is not found at all.
# scripts/check-layers keeps the folders themselves layered one way.
function(velmarin_expose target folder)
  set(root ${CMAKE_BINARY_DIR}/include/${folder})
  if(NOT EXISTS ${root}/${folder})
    file(MAKE_DIRECTORY ${root})
    file(CREATE_LINK ${PROJECT_SOURCE_DIR}/src/${folder} ${root}/${folder} SYMBOLIC)
  endif()
  get_target_property(type ${target} TYPE)
  if(type STREQUAL INTERFACE_LIBRARY)
    target_include_directories(${target} INTERFACE ${root})
  else()
    target_include_directories(${target} PUBLIC ${root})
  endif()
endfunction()
