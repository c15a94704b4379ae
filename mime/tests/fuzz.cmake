# libFuzzer targets: every tests/fuzz/fuzz_*.cpp becomes its own executable and
# a bounded CTest run labelled "fuzz". Built only with TANDREL_FUZZ (clang).
if(TANDREL_FUZZ)
  # The library itself reports its coverage to the fuzzer, which is how the fuzzer finds
  # its way into the parser's branches; without it only the targets' own code guides it.
  target_compile_options(tandrel_mime PRIVATE -fsanitize=fuzzer-no-link)
  file(GLOB _mime_fuzz_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/tests/fuzz/fuzz_*.cpp)
  # The parser starts from messages in the shapes mail programs write.
  file(GLOB _mime_corpus CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/tests/data/corpus/*.eml)
  # Time by what an input from outside reaches: a whole received message (the parser) most,
  # encoded words of its headers next; dates, character sets and composing, whose inputs
  # are short or ours, least.
  foreach(_mime_fuzz_source IN LISTS _mime_fuzz_sources)
    if(_mime_fuzz_source MATCHES "/fuzz_DecomposeParts\\.cpp$")
      tandrel_fuzz_target(mime ${_mime_fuzz_source} SECONDS 25 SEEDS ${_mime_corpus})
    elseif(_mime_fuzz_source MATCHES "/fuzz_CharsetConversion\\.cpp$")
      # Inputs that once led a converter past the end of its input.
      file(GLOB _mime_charset_seeds CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/tests/fuzz/seeds/CharsetConversion/*)
      tandrel_fuzz_target(mime ${_mime_fuzz_source} SECONDS 5 SEEDS ${_mime_charset_seeds})
    elseif(_mime_fuzz_source MATCHES "/fuzz_InlineDecode\\.cpp$")
      tandrel_fuzz_target(mime ${_mime_fuzz_source} SECONDS 10)
    else()
      tandrel_fuzz_target(mime ${_mime_fuzz_source} SECONDS 5)
    endif()
  endforeach()
endif()
