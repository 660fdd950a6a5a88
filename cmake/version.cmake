# The driver version, from project(): a header for the code, and on Windows
# a version resource for every DLL and program.

set(PESOLAN_GENERATED_DIR ${CMAKE_BINARY_DIR}/generated)
configure_file(${CMAKE_CURRENT_LIST_DIR}/version.h.in ${PESOLAN_GENERATED_DIR}/pesolan_version.h @ONLY)
add_library(pesolan_version INTERFACE)
target_include_directories(pesolan_version INTERFACE ${PESOLAN_GENERATED_DIR})

if(WIN32)
  enable_language(RC)
endif()

# Gives a Windows target a version resource with its description.
function(pesolan_version_resource target description)
  if(NOT WIN32)
    return()
  endif()
  get_target_property(type ${target} TYPE)
  set(PESOLAN_RC_NAME ${target})
  if(type STREQUAL "SHARED_LIBRARY")
    set(PESOLAN_RC_FILE ${target}.dll)
    set(PESOLAN_RC_TYPE VFT_DLL)
  else()
    set(PESOLAN_RC_FILE ${target}.exe)
    set(PESOLAN_RC_TYPE VFT_APP)
  endif()
  set(PESOLAN_RC_DESCRIPTION "${description}")
  set(rc ${PESOLAN_GENERATED_DIR}/${target}.rc)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/version.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
endfunction()
