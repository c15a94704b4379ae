# The command-line mailer and its end-to-end test (run against aiosmtpd on loopback).
add_executable(tandrel-mail ${CMAKE_CURRENT_SOURCE_DIR}/tools/tandrel-mail.cpp)
target_link_libraries(tandrel-mail PRIVATE tandrel::mail)

add_test(NAME tandrel_mail_end_to_end
  COMMAND ${TANDREL_PYTHON} ${CMAKE_CURRENT_SOURCE_DIR}/tests/tandrel_mail_test.py $<TARGET_FILE:tandrel-mail>)
set_tests_properties(tandrel_mail_end_to_end PROPERTIES LABELS mail TIMEOUT 120)
