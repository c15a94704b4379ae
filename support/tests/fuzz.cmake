# libFuzzer targets of the support library: every tests/fuzz/fuzz_*.cpp becomes its own
# executable and a CTest run labelled "fuzz" of 5 seconds: the decoders are short loops that
# libFuzzer covers within seconds. Built only with TANDREL_FUZZ (clang).
if(TANDREL_FUZZ)
  # The library reports its coverage to the fuzzer, which is how it finds its way in.
  target_compile_options(tandrel_support PRIVATE -fsanitize=fuzzer-no-link)
  file(GLOB _support_fuzz_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/tests/fuzz/fuzz_*.cpp)
  foreach(_support_fuzz_source IN LISTS _support_fuzz_sources)
    tandrel_fuzz_target(support ${_support_fuzz_source} SECONDS 5)
  endforeach()
endif()
