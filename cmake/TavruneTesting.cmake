# tavrune_add_test(<name> SOURCES <files...> [LIBS <targets...>] [LABELS <labels...>]
#                  [TIMEOUT <seconds>] [ENVIRONMENT <VAR=value...>])
# Builds one Qt Test executable and registers it with CTest.
function(tavrune_add_test name)
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS;LABELS;ENVIRONMENT" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE Qt6::Test tavrune_testsupport ${T_LIBS})
  add_test(NAME ${name} COMMAND ${name})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  set_tests_properties(${name} PROPERTIES
    TIMEOUT ${T_TIMEOUT}
    LABELS "${T_LABELS}"
    # Spinning OpenMP workers starve each other when suites run in parallel:
    # whisper.cpp decodes then slow down many times over.
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;OMP_WAIT_POLICY=passive;${T_ENVIRONMENT}")
endfunction()

# Every tests/<dir>/tst_<Class>.cpp becomes the executable tst_<Class>,
# linked against the whole core and both platform layers.
function(tavrune_add_test_directory dir)
  cmake_parse_arguments(T "" "TIMEOUT" "LIBS;LABELS" ${ARGN})
  file(GLOB _tests CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/${dir}/tst_*.cpp")
  foreach(_src IN LISTS _tests)
    get_filename_component(_name "${_src}" NAME_WE)
    set(_timeout ${T_TIMEOUT})
    if(NOT _timeout)
      set(_timeout 120)
    endif()
    tavrune_add_test(${_name} SOURCES "${_src}"
      LIBS tavrune_core tavrune_platform tavrune_platform_linux ${T_LIBS}
      LABELS ${dir} ${T_LABELS}
      TIMEOUT ${_timeout})
  endforeach()
endfunction()
