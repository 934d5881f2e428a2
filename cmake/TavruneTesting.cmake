# Every suite's time limit, well under CTest's default of 300 s, so that a
# hang fails fast: about three times what the suite takes on a loaded two-core
# machine. The default covers the quick suites; the table names those that
# legitimately need longer.
set(TAVRUNE_TEST_TIMEOUT 60)
set(TAVRUNE_LONGER_TESTS
  # real whisper.cpp decodes and model loads (32 s and 24 s measured)
  tst_WhisperSpeechRecognition 100
  tst_WhisperCppEngineAdapter 75
  # a commit to disk per write: slow when the disk is busy (2 s alone, 23 s)
  tst_VoiceProfileStore 70
  # the whole application on a desktop, several launches (27 s to 31 s)
  tst_TavruneOnDesktop 100
  # every view walked over the bus, then a real dictation (39 s to 59 s)
  tst_ViewsOnAccessibilityBus 140
)
# The sanitizer trees may run the same code slower (under ThreadSanitizer
# the Whisper suites took about as long as in the main tree: 20 s each).
if(TAVRUNE_SANITIZE OR TAVRUNE_SANITIZE_THREAD)
  set(TAVRUNE_TEST_TIMEOUT_FACTOR 2)
else()
  set(TAVRUNE_TEST_TIMEOUT_FACTOR 1)
endif()

# tavrune_test_timeout(<name> <variable>): the time limit of the test <name>.
function(tavrune_test_timeout name variable)
  set(_seconds ${TAVRUNE_TEST_TIMEOUT})
  list(FIND TAVRUNE_LONGER_TESTS ${name} _index)
  if(_index GREATER_EQUAL 0)
    math(EXPR _index "${_index} + 1")
    list(GET TAVRUNE_LONGER_TESTS ${_index} _seconds)
  endif()
  math(EXPR _seconds "${_seconds} * ${TAVRUNE_TEST_TIMEOUT_FACTOR}")
  set(${variable} ${_seconds} PARENT_SCOPE)
endfunction()

# Fails the configuration when a test registered in the calling directory,
# by the helpers or by hand, has no time limit or one as long as CTest's
# default. Called at the end of each directory that registers tests.
function(tavrune_check_time_limits)
  get_property(_tests DIRECTORY PROPERTY TESTS)
  foreach(_test IN LISTS _tests)
    get_test_property(${_test} TIMEOUT _timeout)
    if(NOT _timeout OR _timeout GREATER_EQUAL 300)
      message(FATAL_ERROR "Test ${_test} needs a time limit well under 300 s: tavrune_test_timeout() gives one")
    endif()
  endforeach()
endfunction()

# tavrune_add_test(<name> SOURCES <files...> [LIBS <targets...>] [LABELS <labels...>]
#                  [ENVIRONMENT <VAR=value...>])
# Builds one Qt Test executable and registers it with CTest.
function(tavrune_add_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;LABELS;ENVIRONMENT" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE Qt6::Test tavrune_testsupport ${T_LIBS})
  add_test(NAME ${name} COMMAND ${name})
  tavrune_test_timeout(${name} _timeout)
  set_tests_properties(${name} PROPERTIES
    TIMEOUT ${_timeout}
    LABELS "${T_LABELS}"
    # Spinning OpenMP workers starve each other when suites run in parallel:
    # whisper.cpp decodes then slow down many times over.
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;OMP_WAIT_POLICY=passive;${T_ENVIRONMENT}")
endfunction()

# Every tests/<dir>/tst_<Class>.cpp becomes the executable tst_<Class>,
# linked against the whole core and both platform layers.
function(tavrune_add_test_directory dir)
  cmake_parse_arguments(T "" "" "LIBS;LABELS" ${ARGN})
  file(GLOB _tests CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/${dir}/tst_*.cpp")
  foreach(_src IN LISTS _tests)
    get_filename_component(_name "${_src}" NAME_WE)
    tavrune_add_test(${_name} SOURCES "${_src}"
      LIBS tavrune_core tavrune_platform tavrune_platform_linux ${T_LIBS}
      LABELS ${dir} ${T_LABELS})
  endforeach()
endfunction()
