# Golden tests of rivari-check: every warning, the example configuration, text and JSON, exit statuses.
# The program and the analysis library come from Tools/RivariCheck.
set(RIVARI_CHECK_TESTS ${PROJECT_SOURCE_DIR}/Test/Tools/RivariCheck)
# The agreement suite links the checker's analysis and reads the same case files.
target_link_libraries(TolvaneHostTests PRIVATE RivariCheckReport)
target_compile_definitions(TolvaneHostTests PRIVATE RIVARI_CHECK_CASES="${RIVARI_CHECK_TESTS}/Cases")

# rivari_check_case(NAME EXIT [contains] ARGUMENTS...): runs the program in the case folder and compares
# with Expected/NAME.out (exactly, or line by line with "contains").
function(rivari_check_case NAME EXIT)
  set(MODE exact)
  set(ARGUMENTS ${ARGN})
  if(ARGUMENTS)
    list(GET ARGUMENTS 0 FIRST)
    if(FIRST STREQUAL "contains")
      set(MODE contains)
      list(REMOVE_AT ARGUMENTS 0)
    endif()
  endif()
  string(REPLACE ";" "|" JOINED "${ARGUMENTS}")
  add_test(NAME RivariCheck.${NAME}
           COMMAND ${CMAKE_COMMAND} -DTOOL=$<TARGET_FILE:rivari-check> -DCASES=${RIVARI_CHECK_TESTS}/Cases
                   -DARGS=${JOINED} -DEXPECTED=${RIVARI_CHECK_TESTS}/Expected/${NAME}.out -DEXIT=${EXIT}
                   -DMODE=${MODE} -DACTUAL_FILE=${CMAKE_CURRENT_BINARY_DIR}/RivariCheck.${NAME}.actual
                   -P ${RIVARI_CHECK_TESTS}/RunGolden.cmake)
endfunction()

# The example configuration: clean, exit 0.
rivari_check_case(ExampleMachineText 0 example.ini --machine ab12cd34)
rivari_check_case(ExampleMachineJson 0 example.ini --machine ab12cd34 --json)
rivari_check_case(ExampleAllText 0 example.ini --all)
rivari_check_case(ExampleAllJson 0 example.ini --all --json)
rivari_check_case(Utf16ReadsLikeBytes 0 utf16.ini --machine ab12cd34 --all)

# One file per warning.
rivari_check_case(HeaderCaseText 2 header-case.ini --machine ab12cd34)
rivari_check_case(HeaderCaseJson 2 header-case.ini --machine ab12cd34 --json)
rivari_check_case(HeaderBlanksText 2 header-blanks.ini --machine ab12cd34 --all)
rivari_check_case(HeaderBlanksJson 2 header-blanks.ini --machine ab12cd34 --json)
rivari_check_case(DuplicateHeaderText 1 duplicate-header.ini --machine ab12cd34 --all)
rivari_check_case(DuplicateHeaderJson 1 duplicate-header.ini --machine ab12cd34 --all --json)
rivari_check_case(GapText 1 gap.ini --machine ab12cd34 --all)
rivari_check_case(GapJson 1 gap.ini --machine ab12cd34 --json)
rivari_check_case(UnmatchableEntryText 1 unmatchable-entry.ini --machine ab12cd34)
rivari_check_case(UnmatchableEntryJson 1 unmatchable-entry.ini --machine ab12cd34 --json)
rivari_check_case(DuplicateEntryText 1 duplicate-entry.ini --machine ab12cd34)
rivari_check_case(DuplicateEntryJson 1 duplicate-entry.ini --machine ab12cd34 --json)
rivari_check_case(MissingValueText 1 missing-value.ini --machine ab12cd34)
rivari_check_case(MissingValueJson 1 missing-value.ini --machine ab12cd34 --json)
rivari_check_case(QuoteInCommentText 1 unclosed-quote.ini --machine ab12cd34 --all)
rivari_check_case(QuoteInCommentJson 1 unclosed-quote.ini --machine ab12cd34 --json)
rivari_check_case(QuoteNeverClosedText 1 never-closed.ini --machine ab12cd34)
rivari_check_case(QuoteNeverClosedJson 1 never-closed.ini --machine ab12cd34 --json)
rivari_check_case(BeforeFirstHeaderText 1 before-header.ini --machine ab12cd34)
rivari_check_case(BeforeFirstHeaderJson 1 before-header.ini --all --json)
rivari_check_case(NonAsciiValueText 1 utf8-bom.ini --machine ab12cd34)
rivari_check_case(NonAsciiValueJson 1 utf8-bom.ini --machine ab12cd34 --json)
rivari_check_case(ShortIdentifierText 1 short-identifier.ini --machine ab12cd3)
rivari_check_case(LongIdentifierJson 1 short-identifier.ini --machine ab12cd345 --json)
rivari_check_case(SeparatorInIdentifierText 2 example.ini --machine ab12=cd3)
rivari_check_case(FileNameCutText 1 example.ini --machine ab12cd34 -f 7 -f 115200 -f 1234567 -f -115200 -f 4294967295)
rivari_check_case(FileNameCutJson 1 example.ini --machine ab12cd34 -f 1234567 --json)

# Missing sections and unreadable files: exit 2.
rivari_check_case(EmptyFileText 2 empty.ini --machine ab12cd34)
rivari_check_case(EmptyFileAllJson 2 empty.ini --all --json)
rivari_check_case(UnreadableText 2 no-such-file.ini --machine ab12cd34)
rivari_check_case(UnreadableJson 2 no-such-file.ini --machine ab12cd34 --json)

# Usage: exit 64, and --help with examples.
rivari_check_case(UsageWithoutFile 64 contains)
rivari_check_case(UsageWithoutMachineOrAll 64 contains example.ini)
rivari_check_case(UsageUnknownOption 64 contains example.ini --all --bogus)
rivari_check_case(UsageFileNumberWithoutMachine 64 contains example.ini --all -f 3)
rivari_check_case(UsageFileNumberNotANumber 64 contains example.ini --machine ab12cd34 -f seven)
rivari_check_case(Help 0 contains --help)

# Several traps in one file, as the README shows them.
rivari_check_case(SeveralTrapsText 1 several-traps.ini --machine abcd1234)
