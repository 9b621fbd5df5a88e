# qm_library(NAME DIR [DEPS ...] [PRIVATE DEPS ...]): a static library of
# every .cpp file in DIR (not recursive), linked to the DEPS before PRIVATE
# publicly and to those after it privately (third-party libraries that only
# its sources use: FFmpeg, the audio output, Qt Widgets).  Adding a source
# file needs no edit here: the globs are re-checked at build time.
#
# Every dependency must exist when the library is declared (libraries are
# declared bottom-up): a missing one is a configuration error, never a
# silent skip.  A folder without sources makes no library.
function(qm_library name dir)
  file(GLOB _srcs CONFIGURE_DEPENDS "${dir}/*.cpp" "${dir}/*.c")
  file(GLOB _hdrs CONFIGURE_DEPENDS "${dir}/*.h")
  if(NOT _srcs)
    return()
  endif()
  _qm_split_dependencies(_public _private ${ARGN})
  foreach(_d IN LISTS _public _private)
    _qm_check_dependency(${name} ${_d})
  endforeach()
  add_library(${name} STATIC ${_srcs} ${_hdrs})
  target_include_directories(${name} PUBLIC "${dir}")
  target_compile_definitions(${name} PRIVATE QM_SOURCE_RESOURCES="${QM_SOURCE_RESOURCES}")
  if(_public)
    target_link_libraries(${name} PUBLIC ${_public})
  endif()
  if(_private)
    target_link_libraries(${name} PRIVATE ${_private})
  endif()
endfunction()

# qm_test(NAME DIR [DEPS ...]): one GoogleTest executable of every .cpp file
# in DIR, registered with CTest test by test.  A missing dependency is a
# configuration error.
function(qm_test name dir)
  file(GLOB _srcs CONFIGURE_DEPENDS "${dir}/*.cpp")
  if(NOT _srcs)
    return()
  endif()
  foreach(_d IN LISTS ARGN)
    _qm_check_dependency(${name} ${_d})
  endforeach()
  add_executable(${name} ${_srcs})
  target_link_libraries(${name} PRIVATE ${ARGN} qm_testsupport GTest::gtest GTest::gtest_main GTest::gmock)
  target_compile_definitions(${name} PRIVATE QM_SOURCE_RESOURCES="${QM_SOURCE_RESOURCES}"
                                             QM_TEST_BINARY_DIR="${CMAKE_CURRENT_BINARY_DIR}")
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
                       PROPERTIES ENVIRONMENT "QUILLMARCH_RESOURCES=${QM_SOURCE_RESOURCES};QT_QPA_PLATFORM=offscreen")
endfunction()

# Splits a dependency list at the keyword PRIVATE.
function(_qm_split_dependencies public_var private_var)
  set(_public "")
  set(_private "")
  set(_into _public)
  foreach(_d IN LISTS ARGN)
    if(_d STREQUAL "PRIVATE")
      set(_into _private)
    elseif(_d STREQUAL "PUBLIC")
      set(_into _public)
    else()
      list(APPEND ${_into} ${_d})
    endif()
  endforeach()
  set(${public_var} "${_public}" PARENT_SCOPE)
  set(${private_var} "${_private}" PARENT_SCOPE)
endfunction()

# A target-like dependency (a name with "::", one of ours "qm_...") must be a
# target by now; plain names are system libraries the linker finds.
function(_qm_check_dependency user dep)
  if((dep MATCHES "::" OR dep MATCHES "^qm_") AND NOT TARGET ${dep})
    message(FATAL_ERROR "${user}: dependency '${dep}' does not exist (is it declared, and declared before ${user}?)")
  endif()
endfunction()
