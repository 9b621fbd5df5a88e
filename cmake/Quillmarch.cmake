# qm_library(NAME DIR [DEPS ...]): a static library of every .cpp file in DIR
# (not recursive), linked to DEPS publicly.  Adding a source file needs no
# edit here: the globs are re-checked at build time.
function(qm_library name dir)
  file(GLOB _srcs CONFIGURE_DEPENDS "${dir}/*.cpp" "${dir}/*.c")
  file(GLOB _hdrs CONFIGURE_DEPENDS "${dir}/*.h")
  if(NOT _srcs)
    return()
  endif()
  add_library(${name} STATIC ${_srcs} ${_hdrs})
  target_include_directories(${name} PUBLIC "${dir}")
  target_compile_definitions(${name} PRIVATE QM_SOURCE_RESOURCES="${QM_SOURCE_RESOURCES}")
  # A subsystem library whose folder has no sources yet is left out of the
  # dependencies (libraries are declared bottom-up, so it exists if built).
  set(_deps "")
  foreach(_d IN LISTS ARGN)
    if(_d MATCHES "^qm_" AND NOT TARGET ${_d})
      continue()
    endif()
    list(APPEND _deps ${_d})
  endforeach()
  if(_deps)
    target_link_libraries(${name} PUBLIC ${_deps})
  endif()
endfunction()

# qm_test(NAME DIR [DEPS ...]): one GoogleTest executable of every .cpp file
# in DIR, registered with CTest test by test.
function(qm_test name dir)
  file(GLOB _srcs CONFIGURE_DEPENDS "${dir}/*.cpp")
  if(NOT _srcs)
    return()
  endif()
  if(NOT TARGET ${ARGV2})
    return()
  endif()
  add_executable(${name} ${_srcs})
  target_link_libraries(${name} PRIVATE ${ARGN} qm_testsupport GTest::gtest GTest::gtest_main GTest::gmock)
  target_compile_definitions(${name} PRIVATE QM_SOURCE_RESOURCES="${QM_SOURCE_RESOURCES}"
                                             QM_TEST_BINARY_DIR="${CMAKE_CURRENT_BINARY_DIR}")
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
                       PROPERTIES ENVIRONMENT "QUILLMARCH_RESOURCES=${QM_SOURCE_RESOURCES};QT_QPA_PLATFORM=offscreen")
endfunction()
