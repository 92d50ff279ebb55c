# The system ANSI code page is read once per process: run its test again in
# processes with KOVRA_ANSI_CODEPAGE set.
foreach(case IN ITEMS "1251:1251" "abc:1252")
  string(REPLACE ":" ";" parts "${case}")
  list(GET parts 0 value)
  list(GET parts 1 expected)
  add_test(NAME CodePage.AnsiCodePageFromEnvironment_${value}
           COMMAND ${target} --gtest_filter=CodePage.AnsiCodePageFromEnvironment)
  set_tests_properties(CodePage.AnsiCodePageFromEnvironment_${value} PROPERTIES
    ENVIRONMENT "KOVRA_ANSI_CODEPAGE=${value};KOVRA_EXPECT_ANSI=${expected}")
endforeach()
