# velmora_add_sandbox_test(TARGET [POLKIT] [WAITING] [CASES NAME...]): registers the GoogleTest
# executable TARGET as one test that runs as root inside a fresh throwaway root
# (tests/sandbox/velmora-sandbox); with POLKIT the root runs a system bus and polkitd instead of the
# credentials-dialog stand-in. With CASES each named case is a test of its own, TARGET.NAME, in a
# root of its own, so that cases that mostly wait run beside each other. WAITING labels tests that
# spend their time sleeping rather than computing: scripts/test runs those all at once.

set(VELMORA_STANDIN_TOOLS
    standin-launchctl standin-sysctl standin-xattr standin-hdiutil standin-dns-sd standin-reboot
    standin-security standin-authorization-agent velmora-codesign)
# What the root signs into its client bundles (/opt/velmora/Velmora.app and Relay.app).
set(VELMORA_SIGNED_CLIENT_TOOLS
    velmora-test-signing-identity velmora-helperctl velmora-test-relay)

function(velmora_add_sandbox_test target)
  if(VELMORA_TSAN AND NOT target IN_LIST VELMORA_TSAN_TESTS)
    return()  # not built in that tree
  endif()
  cmake_parse_arguments(PARSE_ARGV 1 sandbox "POLKIT;WAITING" "" "CASES")
  set(root_options)
  if(sandbox_POLKIT)
    set(root_options --polkit)
  endif()
  set(runner ${PROJECT_SOURCE_DIR}/tests/sandbox/velmora-sandbox --build ${PROJECT_BINARY_DIR}
             ${root_options} --)
  set(tests)
  if(sandbox_CASES)
    foreach(case ${sandbox_CASES})
      add_test(NAME ${target}.${case}
               COMMAND ${runner} $<TARGET_FILE:${target}> --gtest_filter=*.${case})
      list(APPEND tests ${target}.${case})
    endforeach()
  else()
    add_test(NAME ${target} COMMAND ${runner} $<TARGET_FILE:${target}>)
    set(tests ${target})
  endif()
  set_tests_properties(${tests} PROPERTIES TIMEOUT 180 LABELS sandbox)
  if(sandbox_WAITING)
    set_property(TEST ${tests} APPEND PROPERTY LABELS waiting)
  else()
    # The throwaway roots take the longest: started first, they do not trail the others.
    set_property(TEST ${tests} PROPERTY COST 100)
  endif()
  # The root links the stand-ins from the build tree and signs its clients from it; they must
  # exist before the test runs.
  add_dependencies(${target} ${VELMORA_STANDIN_TOOLS} ${VELMORA_SIGNED_CLIENT_TOOLS})
endfunction()
