#include <gtest/gtest.h>

#include "fake_platform.h"
#include "launcher/launcher.h"

using modrik::CommandParamOf;
using modrik::CommandTailOf;

TEST(CommandTail, DropsTheProgramNameQuotedOrNot) {
  EXPECT_EQ(CommandTailOf("modrik.exe a.mkv"), "a.mkv");
  EXPECT_EQ(CommandTailOf("\"C:\\Program Files\\modrik.exe\" a.mkv"), "a.mkv");
  // The quoted name ends at its closing quote even without a blank after it.
  EXPECT_EQ(CommandTailOf("\"C:\\x\\modrik.exe\"a.mkv"), "a.mkv");
  // An unquoted name ends at any character of code 32 or less (a tab too).
  EXPECT_EQ(CommandTailOf("modrik.exe\ta.mkv"), "\ta.mkv");
}

TEST(CommandTail, KeepsInnerAndTrailingBlanksButSkipsLeadingSpaces) {
  EXPECT_EQ(CommandTailOf("modrik.exe    -f   \"D:\\x y.mkv\"  "), "-f   \"D:\\x y.mkv\"  ");
  EXPECT_EQ(CommandTailOf("modrik.exe /hidden "), "/hidden ");
}

TEST(CommandTail, IsEmptyForTheNameAlone) {
  EXPECT_EQ(CommandTailOf("modrik.exe"), "");
  EXPECT_EQ(CommandTailOf("modrik.exe   "), "");
  EXPECT_EQ(CommandTailOf("\"C:\\a b\\modrik.exe\""), "");
  EXPECT_EQ(CommandTailOf("\"C:\\a b\\modrik.exe\"   "), "");
  EXPECT_EQ(CommandTailOf(""), "");
  // A quote that never closes swallows the whole line as the name.
  EXPECT_EQ(CommandTailOf("\"C:\\a b\\modrik.exe x y"), "");
}

TEST(CommandParam, SplitsAtSpacesAndQuotes) {
  const std::string tail = "-f \"D:\\My Films\\a.mkv\" third";
  EXPECT_EQ(CommandParamOf(tail, 1), "-f");
  EXPECT_EQ(CommandParamOf(tail, 2), "D:\\My Films\\a.mkv");
  EXPECT_EQ(CommandParamOf(tail, 3), "third");
  EXPECT_EQ(CommandParamOf(tail, 4), "");
  EXPECT_EQ(CommandParamOf("", 1), "");
  EXPECT_EQ(CommandParamOf("    ", 1), "");
}

TEST(CommandParam, QuoteRules) {
  // The closing quote ends the parameter even when no space follows.
  EXPECT_EQ(CommandParamOf("\"a b\"c", 1), "a b");
  EXPECT_EQ(CommandParamOf("\"a b\"c", 2), "c");
  // An empty pair of quotes is skipped and does not count.
  EXPECT_EQ(CommandParamOf("\"\" x \"\" y", 1), "x");
  EXPECT_EQ(CommandParamOf("\"\" x \"\" y", 2), "y");
  // A quote that never closes runs to the end of the tail.
  EXPECT_EQ(CommandParamOf("a \"b c d", 2), "b c d");
  // Quotes inside an unquoted parameter are ordinary characters.
  EXPECT_EQ(CommandParamOf("ab\"cd ef\"", 1), "ab\"cd");
  EXPECT_EQ(CommandParamOf("ab\"cd ef\"", 2), "ef\"");
  // Only the space separates: a tab is an ordinary character.
  EXPECT_EQ(CommandParamOf("a\tb c", 1), "a\tb");
}

TEST(CommandParam, ReadsTheProcessCommandLine) {
  fake::FakePlatform sys;
  sys.commandLine = "\"Z:\\apps\\modrik.exe\"  --fullscreen \"C:\\v\\a.mkv\"";
  EXPECT_EQ(modrik::CommandTail(), "--fullscreen \"C:\\v\\a.mkv\"");
  EXPECT_EQ(modrik::CommandParam(1), "--fullscreen");
  EXPECT_EQ(modrik::CommandParam(2), "C:\\v\\a.mkv");
}

TEST(CommandTail, HandlesAnEnormousLine) {
  std::string line = "modrik.exe " + std::string(100000, 'x') + " " + std::string(100000, '"');
  std::string tail = CommandTailOf(line);
  EXPECT_EQ(tail.size(), 200001u);
  EXPECT_EQ(CommandParamOf(tail, 1), std::string(100000, 'x'));
  EXPECT_EQ(CommandParamOf(tail, 2), "");
}

// Long options as the player's parser finds them (checked against Debian's
// VLC 3.0.24): the name itself beats any longer name it begins; an
// abbreviation names the one entry it begins, switches' "no" and "no-"
// forms and the obsolete names the player still holds counted; one that
// begins several, also one name held twice, is refused.
TEST(LongOption, FoundAsThePlayersParserFindsIt) {
  using modrik::LongOption;
  const struct {
    const char* written;
    LongOption::Kind kind;
    const char* name;
    bool takesValue;
  } rows[] = {
      {"gl", LongOption::kPlayer, "gl", true},  // also begins glconv, glspectrum-...
      {"no-fullsc", LongOption::kPlayer, "no-fullscreen", false},
      {"album-art", LongOption::kPlayer, "album-art", true},  // obsolete, not in its help
      {"alb", LongOption::kAmbiguous, "", false},  // album-art, album-art-filename
      {"glcon", LongOption::kAmbiguous, "", false},  // glconv, defined by two modules
      {"", LongOption::kAmbiguous, "", false},
      {"no-high-prio", LongOption::kWindowsOnly, "no-high-priority", false},
      {"qt-updates-d", LongOption::kWindowsOnly, "qt-updates-days", true},
      {"qt-updates", LongOption::kAmbiguous, "", false},
      {"zzz", LongOption::kUnknown, "", false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.written);
    const LongOption found = modrik::FindLongOption(row.written);
    EXPECT_EQ(found.kind, row.kind);
    EXPECT_EQ(found.name, row.name);
    EXPECT_EQ(found.takesValue, row.takesValue);
  }
}
