# cmake -DCTEST=<ctest> -P CheckTestLabels.cmake, run in the build folder: lists the tests that carry
# neither the "thread" nor the "address" label and fails if there is any.
execute_process(COMMAND "${CTEST}" -N -LE "^(thread|address)$"
  OUTPUT_VARIABLE listing
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "ctest could not list the tests:\n${listing}")
endif()
string(REGEX MATCHALL "Test +#[0-9]+: [^\n]+" unlabelled "${listing}")
if(unlabelled)
  list(JOIN unlabelled "\n  " names)
  message(FATAL_ERROR "These tests run under no sanitizer in CI; list their suite under THREAD or "
                      "ADDRESS where tests/CMakeLists.txt declares their executable:\n  ${names}")
endif()
