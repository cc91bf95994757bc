# Fuzz targets (QSRF_FUZZ=ON, clang only): every translation unit of the tree is built with
# the fuzzer's coverage instrumentation and AddressSanitizer and UndefinedBehaviorSanitizer;
# each fuzz target links libFuzzer's driver and lands in <build>/fuzz/<name>_fuzz.
if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  message(FATAL_ERROR "QSRF_FUZZ needs clang (configure with -DCMAKE_CXX_COMPILER=clang++)")
endif()
add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer
                    -fno-sanitize-recover=undefined -O1 -gline-tables-only)
add_link_options(-fsanitize=address,undefined)

# Builds every fuzz target of the tree.
add_custom_target(qsrf_fuzz_all)

# qsrf_add_fuzz(NAME SOURCES ... LIBS ...): the fuzz target NAME_fuzz.
function(qsrf_add_fuzz name)
  cmake_parse_arguments(F "" "" "SOURCES;LIBS" ${ARGN})
  set(t ${name}_fuzz)
  add_executable(${t} ${F_SOURCES})
  target_include_directories(${t} PRIVATE ${PROJECT_SOURCE_DIR}/tests/fuzz)
  target_link_libraries(${t} PRIVATE ${F_LIBS} Threads::Threads)
  target_link_options(${t} PRIVATE -fsanitize=fuzzer)
  set_target_properties(${t} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/fuzz)
  add_dependencies(qsrf_fuzz_all ${t})
endfunction()

# qsrf_static_libraries(OUT DIR): every static library target defined in DIR and the
# directories below it, in the order they were defined.
function(qsrf_static_libraries out dir)
  set(found "")
  get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
  foreach(t ${targets})
    get_target_property(type ${t} TYPE)
    if(type STREQUAL "STATIC_LIBRARY")
      list(APPEND found ${t})
    endif()
  endforeach()
  get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
  foreach(d ${subdirs})
    qsrf_static_libraries(below ${d})
    list(APPEND found ${below})
  endforeach()
  set(${out} ${found} PARENT_SCOPE)
endfunction()
