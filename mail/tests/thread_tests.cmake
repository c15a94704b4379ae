# Under ThreadSanitizer: the threaded send.
tandrel_thread_tests(mail MailSenderThreadTest.cpp)
