# qev_library(<target> <folder> <deps...>)
# A static library of every .cpp file in <folder> (main.cpp excepted); an
# INTERFACE library while the folder has no sources yet, so that later folders
# can already link it.
function(qev_library target folder)
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${folder}/*.cpp)
  list(FILTER sources EXCLUDE REGEX "/main\\.cpp$")
  if(sources)
    add_library(${target} STATIC ${sources})
    target_include_directories(${target} PUBLIC ${CMAKE_SOURCE_DIR}/${folder})
    target_link_libraries(${target} PUBLIC ${ARGN} Threads::Threads)
  else()
    add_library(${target} INTERFACE)
    target_include_directories(${target} INTERFACE ${CMAKE_SOURCE_DIR}/${folder})
    target_link_libraries(${target} INTERFACE ${ARGN})
  endif()
endfunction()

# qev_link(<target> <deps...>): adds link dependencies whatever kind of
# library <target> is at the moment.
function(qev_link target)
  get_target_property(kind ${target} TYPE)
  if(kind STREQUAL "INTERFACE_LIBRARY")
    target_link_libraries(${target} INTERFACE ${ARGN})
  else()
    target_link_libraries(${target} PUBLIC ${ARGN})
  endif()
endfunction()
