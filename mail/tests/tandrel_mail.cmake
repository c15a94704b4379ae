# The end-to-end tests of the command-line mailer (against aiosmtpd on loopback): one CTest
# entry per case of tandrel_mail_test.py, tandrel_mail.<case without test_>, so that they
# run in parallel and `ctest -R` finds one. The cases are read from the script, which
# reconfigures the build when it changes; a case that skips shows as skipped.
set(_tandrel_mail_script ${CMAKE_CURRENT_SOURCE_DIR}/tests/tandrel_mail_test.py)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${_tandrel_mail_script})
file(STRINGS ${_tandrel_mail_script} _tandrel_mail_lines REGEX "^class |^    def test_")
set(_tandrel_mail_class "")
set(_tandrel_mail_count 0)
foreach(_tandrel_mail_line IN LISTS _tandrel_mail_lines)
  if(_tandrel_mail_line MATCHES "^class ([A-Za-z0-9_]+)")
    set(_tandrel_mail_class ${CMAKE_MATCH_1})
  elseif(_tandrel_mail_line MATCHES "^    def test_([A-Za-z0-9_]+)\\(")
    set(_tandrel_mail_name ${CMAKE_MATCH_1})
    add_test(NAME tandrel_mail.${_tandrel_mail_name}
      COMMAND ${TANDREL_PYTHON} ${_tandrel_mail_script} $<TARGET_FILE:tandrel-mail>
              ${_tandrel_mail_class}.test_${_tandrel_mail_name})
    set_tests_properties(tandrel_mail.${_tandrel_mail_name} PROPERTIES
      LABELS mail TIMEOUT 120 SKIP_REGULAR_EXPRESSION "OK \\(skipped=")
    math(EXPR _tandrel_mail_count "${_tandrel_mail_count} + 1")
  endif()
endforeach()
if(_tandrel_mail_count EQUAL 0)
  message(FATAL_ERROR "${_tandrel_mail_script}: no test_ cases found")
endif()
