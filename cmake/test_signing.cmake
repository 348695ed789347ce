# The updater programs the tests serve and embed are signed by the test
# signer as they are built, so Setup.exe's publisher check passes for them
# (the Wine bench trusts the test authority). The certificates and their keys
# are made once, into the build folder.
find_program(SETUP_OSSLSIGNCODE osslsigncode REQUIRED)
find_program(SETUP_OPENSSL openssl REQUIRED)
set(SETUP_TEST_CERTS ${CMAKE_BINARY_DIR}/certs)
add_custom_command(OUTPUT ${SETUP_TEST_CERTS}/done
  COMMAND bash ${CMAKE_SOURCE_DIR}/tests/support/make-certs.sh ${SETUP_TEST_CERTS} "${SETUP_UPDATER_PUBLISHER}"
  DEPENDS ${CMAKE_SOURCE_DIR}/tests/support/make-certs.sh
  COMMENT "Test code-signing certificates")
add_custom_target(test_certs DEPENDS ${SETUP_TEST_CERTS}/done)

# Signs target's program in place after each link.
function(setup_sign_for_tests target)
  add_dependencies(${target} test_certs)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND bash ${SETUP_TEST_CERTS}/sign-file.sh signer $<TARGET_FILE:${target}> $<TARGET_FILE:${target}>.signed
    COMMAND ${CMAKE_COMMAND} -E rename $<TARGET_FILE:${target}>.signed $<TARGET_FILE:${target}>
    COMMENT "Signing ${target} with the test signer")
endfunction()
