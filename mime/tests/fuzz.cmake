# libFuzzer targets: every tests/fuzz/fuzz_*.cpp becomes its own executable and
# a bounded CTest run labelled "fuzz". Built only with TANDREL_FUZZ (clang).
if(TANDREL_FUZZ)
  # The library itself reports its coverage to the fuzzer, which is how the fuzzer finds
  # its way into the parser's branches; without it only the targets' own code guides it.
  target_compile_options(tandrel_mime PRIVATE -fsanitize=fuzzer-no-link)
  file(GLOB _mime_fuzz_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/tests/fuzz/fuzz_*.cpp)
  if(NOT TARGET fuzz_targets)
    add_custom_target(fuzz_targets)
  endif()
  foreach(_mime_fuzz_source IN LISTS _mime_fuzz_sources)
    get_filename_component(_mime_fuzz_name ${_mime_fuzz_source} NAME_WE)
    set(_mime_fuzz_target mime_${_mime_fuzz_name})
    add_executable(${_mime_fuzz_target} ${_mime_fuzz_source})
    target_link_libraries(${_mime_fuzz_target} PRIVATE tandrel_mime)
    target_compile_options(${_mime_fuzz_target} PRIVATE -fsanitize=fuzzer)
    target_link_options(${_mime_fuzz_target} PRIVATE -fsanitize=fuzzer)
    add_dependencies(fuzz_targets ${_mime_fuzz_target})
    set(_mime_fuzz_seeds)
    if(_mime_fuzz_name STREQUAL "fuzz_DecomposeParts")
      # The parser starts from messages in the shapes mail programs write.
      file(GLOB _mime_corpus CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/tests/data/corpus/*.eml)
      list(JOIN _mime_corpus "," _mime_corpus)
      set(_mime_fuzz_seeds -seed_inputs=${_mime_corpus})
    endif()
    add_test(NAME mime.${_mime_fuzz_name}
             COMMAND ${_mime_fuzz_target} -max_total_time=20 -timeout=5 -rss_limit_mb=2048 -max_len=65536
                     ${_mime_fuzz_seeds})
    set_tests_properties(mime.${_mime_fuzz_name} PROPERTIES LABELS fuzz TIMEOUT 120)
  endforeach()
endif()
