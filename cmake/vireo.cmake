# vireo_library(NAME DIR DEPS...): a static library of every .cpp in DIR
# (not recursing; main.cpp, a program's entry, is left out), so adding a
# source file needs no edit here.
function(vireo_library name dir)
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/*.cpp)
  list(FILTER sources EXCLUDE REGEX ".*/main\\.cpp$")
  if(sources)
    add_library(${name} STATIC ${sources})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${name} PUBLIC ${ARGN})
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${name} INTERFACE ${ARGN})
  endif()
endfunction()

# vireo_tests(NAME DIR LABEL DEPS...): one test program of every *_test.cpp
# in DIR; each GoogleTest case becomes a ctest test with LABEL.
include(GoogleTest)
function(vireo_tests name dir label)
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/*_test.cpp)
  if(NOT sources)
    return()
  endif()
  add_executable(${name} ${sources})
  target_link_libraries(${name} PRIVATE vireo_test_support ${ARGN})
  gtest_discover_tests(${name}
    PROPERTIES LABELS ${label}
    DISCOVERY_TIMEOUT 30)
endfunction()
