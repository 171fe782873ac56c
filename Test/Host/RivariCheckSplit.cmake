# rivari-check split: the equivalence table and the output folder's safety (GoogleTest, RivariCheckSplitTests.cpp),
# and golden splits of Examples/ for its three machines through the checker's golden mechanism.
target_link_libraries(TolvaneHostTests PRIVATE RivariCheckSplit)
# The generated fleet files of the one-pass differential suite, shared with Test/Fuzz/SplitFuzzer.cpp.
target_sources(TolvaneHostTests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/RivariCheckFleetFiles.cpp)

# Both relative to the case folder the golden runs start in, so that the output names no checkout.
set(RIVARI_SPLIT_TESTS ../Split)
set(RIVARI_SPLIT_EXAMPLE ../../../../Examples/rivari.ini)

# rivari_check_split_case(NAME EXIT OUT [KEEP] ARGUMENTS...): a golden run of "rivari-check split ... --out OUT"
# with the written folder listed; KEEP runs over what the previous case of that folder left.
function(rivari_check_split_case NAME EXIT OUT)
  set(ARGUMENTS ${ARGN})
  set(KEEP 0)
  list(GET ARGUMENTS 0 FIRST)
  if(FIRST STREQUAL "KEEP")
    set(KEEP 1)
    list(REMOVE_AT ARGUMENTS 0)
  endif()
  set(OUT_DIR ${CMAKE_CURRENT_BINARY_DIR}/RivariSplit/${OUT})
  string(REPLACE ";" "|" JOINED "split;${ARGUMENTS};--out;${OUT_DIR}")
  add_test(NAME RivariCheck.${NAME}
           COMMAND ${CMAKE_COMMAND} -DTOOL=$<TARGET_FILE:rivari-check> -DCASES=${RIVARI_CHECK_TESTS}/Cases
                   -DARGS=${JOINED} -DEXPECTED=${RIVARI_CHECK_TESTS}/Expected/${NAME}.out -DEXIT=${EXIT}
                   -DOUT_DIR=${OUT_DIR} -DKEEP_OUT=${KEEP}
                   -DACTUAL_FILE=${CMAKE_CURRENT_BINARY_DIR}/RivariCheck.${NAME}.actual
                   -P ${RIVARI_CHECK_TESTS}/RunGolden.cmake)
  set_tests_properties(RivariCheck.${NAME} PROPERTIES RESOURCE_LOCK RivariSplit.${OUT})
endfunction()

rivari_check_split_case(SplitExamplesDnsmasqIp 0 ip ${RIVARI_SPLIT_EXAMPLE} --map ${RIVARI_SPLIT_TESTS}/examples-ip.csv)
# Again over its own output: nothing changes; then with one machine left: the others' files go, the folder stays.
rivari_check_split_case(SplitExamplesAgainUnchanged 0 ip KEEP ${RIVARI_SPLIT_EXAMPLE}
                        --map ${RIVARI_SPLIT_TESTS}/examples-ip.csv)
rivari_check_split_case(SplitExamplesStaleRemoved 0 ip KEEP ${RIVARI_SPLIT_EXAMPLE}
                        --map ${RIVARI_SPLIT_TESTS}/examples-one.csv)
rivari_check_split_case(SplitExamplesTftpdHpaJson 0 tftpd ${RIVARI_SPLIT_EXAMPLE}
                        --map ${RIVARI_SPLIT_TESTS}/examples-ip.csv --for tftpd-hpa --json)
rivari_check_split_case(SplitExamplesDnsmasqMac 1 mac ${RIVARI_SPLIT_EXAMPLE}
                        --map ${RIVARI_SPLIT_TESTS}/examples-mac.csv --for dnsmasq-mac)
rivari_check_split_case(SplitBadMapRows 2 bad ${RIVARI_SPLIT_EXAMPLE} --map ${RIVARI_SPLIT_TESTS}/bad-rows.csv)
# The operator's traps: a lower-case identifier, one line that holds back every client, a swallowed header, an
# output folder whose parent is missing.
rivari_check_split_case(SplitLowerCaseIdentifier 1 lower ${RIVARI_SPLIT_EXAMPLE} --map ${RIVARI_SPLIT_TESTS}/lower-case.csv)
rivari_check_split_case(SplitLineHoldsBackEveryClient 1 before before-header.ini
                        --map ${RIVARI_SPLIT_TESTS}/two-machines.csv)
rivari_check_split_case(SplitHeaderSwallowed 1 swallowed unclosed-quote.ini --map ${RIVARI_SPLIT_TESTS}/two-machines.csv)
rivari_check_case(SplitOutParentMissing 2 split ${RIVARI_SPLIT_EXAMPLE} --map ${RIVARI_SPLIT_TESTS}/examples-ip.csv
                  --out missing-parent/out)
set_tests_properties(RivariCheck.SplitExamplesAgainUnchanged PROPERTIES DEPENDS RivariCheck.SplitExamplesDnsmasqIp)
set_tests_properties(RivariCheck.SplitExamplesStaleRemoved PROPERTIES DEPENDS RivariCheck.SplitExamplesAgainUnchanged)
