# lean_program(<target>): links a program that PVM daemons start (the master,
# the workers) with the C++ runtime built in, so that it loads three shared
# libraries fewer at every start (about 1 ms each task here) and runs on a
# host whose libstdc++ is older than the build host's. Left out under the
# sanitizers, whose runtimes expect the shared C++ library, and for programs
# that link shared C++ libraries (GoogleTest, Google Benchmark).
function(lean_program target)
  if(NOT ENABLE_SANITIZERS)
    target_link_options(${target} PRIVATE -static-libstdc++ -static-libgcc -Wl,--as-needed)
  endif()
endfunction()
