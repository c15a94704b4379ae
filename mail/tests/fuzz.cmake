# libFuzzer targets of the mail component: every tests/fuzz/fuzz_*.cpp becomes its own
# executable and a bounded CTest run labelled "fuzz", seeded from tests/fuzz/corpus/
# (the conversations of the scripted-server tables, written by make_corpus.py), each for
# 25 seconds: a whole send against whatever a server answers is the widest surface of all.
# Built only with TANDREL_FUZZ (clang).
if(TANDREL_FUZZ)
  file(GLOB _mail_fuzz_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/tests/fuzz/fuzz_*.cpp)
  file(GLOB _mail_corpus CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/tests/fuzz/corpus/*)
  foreach(_mail_fuzz_source IN LISTS _mail_fuzz_sources)
    tandrel_fuzz_target(mail ${_mail_fuzz_source} SECONDS 25 SEEDS ${_mail_corpus})
  endforeach()
endif()
