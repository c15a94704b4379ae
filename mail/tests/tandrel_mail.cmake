# The end-to-end test of the command-line mailer (against aiosmtpd on loopback).
add_test(NAME tandrel_mail_end_to_end
  COMMAND ${TANDREL_PYTHON} ${CMAKE_CURRENT_SOURCE_DIR}/tests/tandrel_mail_test.py $<TARGET_FILE:tandrel-mail>)
set_tests_properties(tandrel_mail_end_to_end PROPERTIES LABELS mail TIMEOUT 120)
