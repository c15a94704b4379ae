# The command-line mailer and its end-to-end test (run against aiosmtpd on loopback).
add_executable(tandrel-mail ${CMAKE_CURRENT_SOURCE_DIR}/tools/tandrel-mail.cpp)
target_link_libraries(tandrel-mail PRIVATE tandrel::mail)

# Scripts start tandrel-mail once per message, so its start counts: linked as usual,
# most of a short run goes to the dynamic loader (libcrypto's relocations and the
# pages they dirty), about two thirds of the processor time of a TLS send. With
# OpenSSL and the C++ runtime built in, at a fixed address, that time is gone. The
# price: an OpenSSL update reaches the tool when it is built again, and its own code
# has no address randomisation. TANDREL_STATIC_TOOLS=OFF links it as any program.
option(TANDREL_STATIC_TOOLS "Link tandrel-mail with OpenSSL and the C++ runtime built in" ON)
find_library(TANDREL_SSL_STATIC libssl.a)
find_library(TANDREL_CRYPTO_STATIC libcrypto.a)
if(TANDREL_STATIC_TOOLS AND NOT TANDREL_SANITIZE AND TANDREL_SSL_STATIC AND TANDREL_CRYPTO_STATIC)
  # The archives come before the shared libraries the socket library names, so they
  # give every OpenSSL symbol; --as-needed then drops the shared ones.
  target_link_libraries(tandrel-mail PRIVATE tandrel::mail tandrel::smtp tandrel::net
                        ${TANDREL_SSL_STATIC} ${TANDREL_CRYPTO_STATIC})
  target_link_options(tandrel-mail PRIVATE LINKER:--as-needed -static-libstdc++ -static-libgcc -no-pie)
  set_target_properties(tandrel-mail PROPERTIES POSITION_INDEPENDENT_CODE OFF)
endif()

add_test(NAME tandrel_mail_end_to_end
  COMMAND ${TANDREL_PYTHON} ${CMAKE_CURRENT_SOURCE_DIR}/tests/tandrel_mail_test.py $<TARGET_FILE:tandrel-mail>)
set_tests_properties(tandrel_mail_end_to_end PROPERTIES LABELS mail TIMEOUT 120)
