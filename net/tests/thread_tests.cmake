# Under ThreadSanitizer: the socket aborted from another thread.
tandrel_thread_tests(net AbortSocketTest.cpp)
