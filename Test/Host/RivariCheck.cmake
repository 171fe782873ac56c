# Golden tests of rivari-check: every warning, the example configuration, text and JSON, exit statuses.
# The program and the analysis library come from Tools/RivariCheck.
set(RIVARI_CHECK_TESTS ${PROJECT_SOURCE_DIR}/Test/Tools/RivariCheck)
# The agreement suite links the checker's analysis and reads the same case files.
target_link_libraries(TolvaneHostTests PRIVATE RivariCheckReport)
target_compile_definitions(TolvaneHostTests PRIVATE RIVARI_CHECK_CASES="${RIVARI_CHECK_TESTS}/Cases")

# rivari_check_case(NAME EXIT [contains] [<INPUT] ARGUMENTS...): runs the program in the case folder, with the
# case file INPUT on standard input when given, and compares with Expected/NAME.out (exactly, or line by line
# with "contains").
function(rivari_check_case NAME EXIT)
  set(MODE exact)
  set(INPUT "")
  set(ARGUMENTS ${ARGN})
  if(ARGUMENTS)
    list(GET ARGUMENTS 0 FIRST)
    if(FIRST STREQUAL "contains")
      set(MODE contains)
      list(REMOVE_AT ARGUMENTS 0)
    endif()
  endif()
  if(ARGUMENTS)
    list(GET ARGUMENTS 0 FIRST)
    if(FIRST MATCHES "^<(.+)$")
      set(INPUT ${RIVARI_CHECK_TESTS}/Cases/${CMAKE_MATCH_1})
      list(REMOVE_AT ARGUMENTS 0)
    endif()
  endif()
  string(REPLACE ";" "|" JOINED "${ARGUMENTS}")
  add_test(NAME RivariCheck.${NAME}
           COMMAND ${CMAKE_COMMAND} -DTOOL=$<TARGET_FILE:rivari-check> -DCASES=${RIVARI_CHECK_TESTS}/Cases
                   -DARGS=${JOINED} -DEXPECTED=${RIVARI_CHECK_TESTS}/Expected/${NAME}.out -DEXIT=${EXIT}
                   -DMODE=${MODE} -DINPUT=${INPUT} -DACTUAL_FILE=${CMAKE_CURRENT_BINARY_DIR}/RivariCheck.${NAME}.actual
                   -P ${RIVARI_CHECK_TESTS}/RunGolden.cmake)
endfunction()

# The example configuration: clean, exit 0.
rivari_check_case(ExampleMachineText 0 example.ini --machine AB12CD34)
rivari_check_case(ExampleMachineJson 0 example.ini --machine AB12CD34 --json)
rivari_check_case(ExampleAllText 0 example.ini --all)
rivari_check_case(ExampleAllJson 0 example.ini --all --json)
rivari_check_case(Utf16ReadsLikeBytes 0 utf16.ini --machine AB12CD34 --all)

# One file per warning.
rivari_check_case(HeaderCaseText 2 header-case.ini --machine AB12CD34)
rivari_check_case(HeaderCaseJson 2 header-case.ini --machine AB12CD34 --json)
rivari_check_case(HeaderBlanksText 2 header-blanks.ini --machine AB12CD34 --all)
rivari_check_case(HeaderBlanksJson 2 header-blanks.ini --machine AB12CD34 --json)
rivari_check_case(DuplicateHeaderText 1 duplicate-header.ini --machine AB12CD34 --all)
rivari_check_case(DuplicateHeaderJson 1 duplicate-header.ini --machine AB12CD34 --all --json)
rivari_check_case(GapText 1 gap.ini --machine AB12CD34 --all)
rivari_check_case(GapJson 1 gap.ini --machine AB12CD34 --json)
rivari_check_case(UnmatchableEntryText 1 unmatchable-entry.ini --machine AB12CD34)
rivari_check_case(UnmatchableEntryJson 1 unmatchable-entry.ini --machine AB12CD34 --json)
rivari_check_case(DuplicateEntryText 1 duplicate-entry.ini --machine AB12CD34)
rivari_check_case(DuplicateEntryJson 1 duplicate-entry.ini --machine AB12CD34 --json)
rivari_check_case(MissingValueText 1 missing-value.ini --machine AB12CD34)
rivari_check_case(MissingValueJson 1 missing-value.ini --machine AB12CD34 --json)
rivari_check_case(QuoteInCommentText 1 unclosed-quote.ini --machine AB12CD34 --all)
rivari_check_case(QuoteInCommentJson 1 unclosed-quote.ini --machine AB12CD34 --json)
# The section a quote swallowed: named as swallowed, with the line of the open quote, never "no line begins with".
rivari_check_case(SwallowedHeaderText 2 unclosed-quote.ini --machine EF56GH78)
rivari_check_case(SwallowedHeaderJson 2 unclosed-quote.ini --machine EF56GH78 --json)
rivari_check_case(Utf16BigEndianText 2 utf16-be.ini --machine AB12CD34)
rivari_check_case(StrayQuoteSwallowsSections 2 stray-quote.ini --machine AB12CD34)
rivari_check_case(QuoteNeverClosedText 1 never-closed.ini --machine AB12CD34)
rivari_check_case(QuoteNeverClosedJson 1 never-closed.ini --machine AB12CD34 --json)
rivari_check_case(BeforeFirstHeaderText 1 before-header.ini --machine AB12CD34)
rivari_check_case(BeforeFirstHeaderJson 1 before-header.ini --all --json)
rivari_check_case(NonAsciiValueText 1 utf8-bom.ini --machine AB12CD34)
rivari_check_case(NonAsciiValueJson 1 utf8-bom.ini --machine AB12CD34 --json)
rivari_check_case(ShortIdentifierText 1 short-identifier.ini --machine ab12cd3)
rivari_check_case(LongIdentifierJson 1 short-identifier.ini --machine AB12CD345 --json)
rivari_check_case(SeparatorInIdentifierText 2 example.ini --machine AB12=CD3)
rivari_check_case(FileNameCutText 1 example.ini --machine AB12CD34 -f 7 -f 115200 -f 1234567 -f -115200 -f 4294967295)
rivari_check_case(FileNameCutJson 1 example.ini --machine AB12CD34 -f 1234567 --json)
rivari_check_case(IdentifierCaseText 1 example.ini --machine ab12cd34 -f 1)
rivari_check_case(ValueCutText 1 value-cut.ini --machine AB12CD34)
rivari_check_case(ValueCutJson 1 value-cut.ini --machine AB12CD34 --json)
rivari_check_case(UnmatchableHeaderText 1 unmatchable-header.ini --all)
rivari_check_case(UnmatchableHeaderJson 1 unmatchable-header.ini --all --json)
rivari_check_case(NearMissHeaderText 2 unmatchable-header.ini --machine ABCD1234)

# A fleet in one run: several machines, a list of them, standard input, warnings left out or made errors.
rivari_check_case(SeveralMachinesText 2 example.ini --machine AB12CD34 --machine EF56GH78 --machine 12345678)
rivari_check_case(SeveralMachinesJson 1 gap.ini --machine AB12CD34 --machine EF56GH78 --json)
rivari_check_case(MachineListText 2 unmatchable-header.ini --machines fleet.txt --all)
rivari_check_case(StandardInputText 1 <gap.ini - --machine AB12CD34)
rivari_check_case(MachineListFromStandardInput 2 <fleet.txt value-cut.ini --machines -)
rivari_check_case(IgnoreText 0 gap.ini --machine AB12CD34 --ignore gap)
rivari_check_case(IgnoreAll 0 several-traps.ini --all --ignore all)
rivari_check_case(ErrorText 1 several-traps.ini --machine ABCD1234 --error gap --error unclosed-quote)
rivari_check_case(ErrorAllJson 1 gap.ini --machine AB12CD34 --error all --json)

# Missing sections and unreadable files: exit 2.
rivari_check_case(EmptyFileText 2 empty.ini --machine AB12CD34)
rivari_check_case(EmptyFileAllJson 2 empty.ini --all --json)
rivari_check_case(UnreadableText 2 no-such-file.ini --machine AB12CD34)
rivari_check_case(UnreadableJson 2 no-such-file.ini --machine AB12CD34 --json)

# Usage: exit 64, and --help with examples.
rivari_check_case(UsageWithoutFile 64 contains)
rivari_check_case(UsageWithoutMachineOrAll 64 contains example.ini)
rivari_check_case(UsageUnknownOption 64 contains example.ini --all --bogus)
rivari_check_case(UsageFileNumberWithoutMachine 64 contains example.ini --all -f 3)
rivari_check_case(UsageFileNumberNotANumber 64 contains example.ini --machine AB12CD34 -f seven)
rivari_check_case(UsageIgnoreUnknownCode 64 contains example.ini --all --ignore no-such-code)
rivari_check_case(UsageEmptyMachineList 64 contains example.ini --machines empty.ini)
rivari_check_case(UsageBothStandardInput 64 contains - --machines -)
rivari_check_case(UsageSeveralMachinesWithServer 64 contains --server 192.0.2.1 -m AB12CD34 -m EF56AB78)
rivari_check_case(Help 0 contains --help)

# The subcommands: "check" and "server" answer as the forms without them; each has its own --help.
rivari_check_case(CheckSubcommandText 0 check example.ini --machine AB12CD34)
rivari_check_case(CheckSubcommandSeveralJson 1 check gap.ini --machine AB12CD34 --machine EF56GH78 --json)
rivari_check_case(CheckSubcommandWithoutFile 64 contains check --machine AB12CD34)
rivari_check_case(CheckSubcommandRefusesServer 64 contains check example.ini --all --server 192.0.2.1)
rivari_check_case(ServerSubcommandBadHost 64 contains server not-an-address --machine AB12CD34)
rivari_check_case(ServerSubcommandSeveralMachines 64 contains server 192.0.2.1 -m AB12CD34 -m EF56AB78)
rivari_check_case(ServerSubcommandWithoutHost 64 contains server --machine AB12CD34)
rivari_check_case(CheckHelp 0 contains check --help)
rivari_check_case(ServerHelp 0 contains server --help)
rivari_check_case(SplitHelp 0 contains split --help)

# Several traps in one file, as the README shows them.
rivari_check_case(SeveralTrapsText 1 several-traps.ini --machine ABCD1234)
