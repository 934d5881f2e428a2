# whisper.cpp and ggml come prebuilt from scripts/bootstrap (static, CPU, native),
# cached outside the checkout. Exposes the imported target `whisper::whisper`
# and, for the benchmark, WHISPER_CLI_EXECUTABLE and WHISPER_SOURCE_DIR.
set(_cache "$ENV{TAVRUNE_CACHE}")
if(NOT _cache)
  if(DEFINED ENV{XDG_CACHE_HOME} AND NOT "$ENV{XDG_CACHE_HOME}" STREQUAL "")
    set(_cache "$ENV{XDG_CACHE_HOME}/tavrune")
  else()
    set(_cache "$ENV{HOME}/.cache/tavrune")
  endif()
endif()
set(WHISPER_SOURCE_DIR "${_cache}/whisper-src-current" CACHE PATH "whisper.cpp source tree")
set(WHISPER_BUILD_DIR "${_cache}/whisper-build-current" CACHE PATH "whisper.cpp build tree")
get_filename_component(WHISPER_SOURCE_DIR "${WHISPER_SOURCE_DIR}" REALPATH)
get_filename_component(WHISPER_BUILD_DIR "${WHISPER_BUILD_DIR}" REALPATH)

set(_libs
  "${WHISPER_BUILD_DIR}/src/libwhisper.a"
  "${WHISPER_BUILD_DIR}/ggml/src/libggml.a"
  "${WHISPER_BUILD_DIR}/ggml/src/libggml-cpu.a"
  "${WHISPER_BUILD_DIR}/ggml/src/libggml-base.a")
foreach(_lib IN LISTS _libs)
  if(NOT EXISTS "${_lib}")
    message(FATAL_ERROR "whisper.cpp is not built (${_lib} missing): run scripts/bootstrap first")
  endif()
endforeach()

find_package(OpenMP REQUIRED COMPONENTS CXX)
find_package(Threads REQUIRED)

add_library(whisper::whisper INTERFACE IMPORTED GLOBAL)
target_include_directories(whisper::whisper SYSTEM INTERFACE
  "${WHISPER_SOURCE_DIR}/include" "${WHISPER_SOURCE_DIR}/ggml/include")
# the static archives reference each other; the group resolves the cycle
target_link_libraries(whisper::whisper INTERFACE
  "-Wl,--start-group" ${_libs} "-Wl,--end-group"
  OpenMP::OpenMP_CXX Threads::Threads m)
set(WHISPER_CLI_EXECUTABLE "${WHISPER_BUILD_DIR}/bin/whisper-cli" CACHE FILEPATH "whisper-cli from the same build")
