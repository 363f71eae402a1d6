// Player arguments reach the host as literal words: the quoting helper, the
// command line built from it, the script the player start writes, and the
// splitting of a command tail. The quoting is checked against
// the host's real /bin/sh, running the very script text the runner writes.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "host_shell.h"
#include "launcher/launcher.h"
#include "winebridge/winebridge.h"
#include "winebridge_fake_host.h"

namespace {

using fake::FakeHost;
using Words = std::vector<std::string>;

// Names that would run commands or be mangled if the shell read them as code.
const Words kHostileNames = {
    "x$(touch CANARY).mkv",
    "x`touch CANARY`.mkv",
    "a;touch CANARY;.mkv",
    "a|touch CANARY",
    "a&touch CANARY&",
    "a>CANARY",
    "a<b",
    "it's here.mkv",
    "'",
    "''",
    "'\\''",
    "say \"hi\".mkv",
    "back\\slash\\n.mkv",
    "two\nlines.mkv",
    "cr\r.mkv",
    "tab\there",
    "  spaced  ",
    "$HOME ${HOME} $0 $@ $*",
    "*.mkv",
    "?",
    "[ab]",
    "~",
    "~/x",
    "#not a comment",
    "-",
    "--",
    "",
    "!x",
    "{a,b}",
    "vid\xC3\xA9o \xE2\x82\xAC.mkv",
};

// Runs the script text with /bin/sh inside `folder`; a recording program
// there writes its arguments NUL-terminated to `folder`/argv. Returns them.
Words RunScriptAndRecord(const ScratchFolder& folder, const std::string& scriptText) {
  const std::string script = folder.path() + "/dues.sh";
  WriteAll(script, scriptText);
  std::system(("cd '" + folder.path() + "' && /bin/sh ./dues.sh >/dev/null 2>&1").c_str());
  const std::string record = ReadAll(folder.path() + "/argv");
  Words args;
  std::size_t start = 0;
  for (std::size_t i = 0; i < record.size(); ++i) {
    if (record[i] == '\0') {
      args.push_back(record.substr(start, i - start));
      start = i + 1;
    }
  }
  return args;
}

std::string MakeRecorder(const ScratchFolder& folder, const std::string& name) {
  const std::string recorder = folder.path() + "/" + name;
  WriteAll(recorder, "#!/bin/sh\nprintf '%s\\0' \"$@\" > \"$(dirname \"$0\")/argv\"\n");
  chmod(recorder.c_str(), 0755);
  return recorder;
}

TEST(ShellQuote, WrapsInSingleQuotesAndEscapesThem) {
  EXPECT_EQ(modrik::ShellQuote(""), "''");
  EXPECT_EQ(modrik::ShellQuote("/usr/bin/vlc"), "'/usr/bin/vlc'");
  EXPECT_EQ(modrik::ShellQuote("it's"), "'it'\\''s'");
  EXPECT_EQ(modrik::ShellQuote("a\"$b`\\"), "'a\"$b`\\'");
  EXPECT_EQ(modrik::UnixCommandLine("/usr/bin/vlc", {"--random", "/a b"}),
            "'/usr/bin/vlc' '--random' '/a b'");
  EXPECT_EQ(modrik::UnixCommandLine("/usr/bin/vlc", {}), "'/usr/bin/vlc'");
}

TEST(ShellQuote, HostShellPassesEveryHostileNameLiterally) {
  ScratchFolder folder;
  // The player's own path is hostile too, and quoted the same way.
  const std::string recorder = MakeRecorder(folder, "my player's $(touch CANARY)");
  Words expected = kHostileNames;

  const std::string line = modrik::UnixCommandLine(recorder, expected);
  Words received = RunScriptAndRecord(folder, modrik::UnixScriptText(line));

  EXPECT_EQ(received, expected);
  EXPECT_NE(access((folder.path() + "/CANARY").c_str(), F_OK), 0) << "a name ran as a command";
  // ShellWords reads the line as the shell did.
  expected.insert(expected.begin(), recorder);
  EXPECT_EQ(modrik::ShellWords(line), expected);
}

TEST(ShellWords, ReadsLiteralWordsAndRefusesWhatTheShellActsOn) {
  EXPECT_EQ(modrik::ShellWords(" a\\ b\t'c'\\''d' '' "), Words({"a b", "c'd", ""}));
  for (const char* line : {"a $(b)", "a`b`", "$a", "'open", "a;b", "a|b", "a>b", "a\nb", "a\\", "\"a\"",
                           "~/x", "*.mkv", "{a,b}", "# x"})
    EXPECT_EQ(modrik::ShellWords(line), std::nullopt) << line;
}

TEST(RunUnixPlayer, WritesQuotedPlayerLineInUtf8AndStartsIt) {
  FakeHost host;
  host.playerStatus = "0\n";
  modrik::PrivateFolder = "/home/guest/.cache/modrik";
  EXPECT_EQ(modrik::RunUnixPlayer("/usr/bin/vlc", {"--random", "/home/guest/it's vid\xC3\xA9o"}), 0);
  // One host program, given the command as its last word: nothing is
  // written into the home.
  ASSERT_EQ(host.processes.size(), 1u);
  EXPECT_EQ(host.processes[0].commandLine, "/bin/sh -c <program> sh /home/guest/dues.sh launch child   <program>");
  const std::string command = host.processes[0].argv.back();
  EXPECT_EQ(command.find("\nset -- '/usr/bin/vlc' '--random' '/home/guest/it'\\''s vid\xC3\xA9o'\n"),
            command.find('\n'));
  EXPECT_FALSE(host.HasFile(FakeHost::kScript));
}

// The texts of a tail's words.
Words Split(const std::string& tail) {
  Words texts;
  for (const modrik::TailWord& word : modrik::SplitTailWords(tail)) texts.push_back(word.text);
  return texts;
}

TEST(SplitTailWords, SplitsByTheWindowsRules) {
  struct Row {
    std::string tail;
    Words words;
  } rows[] = {
      // one quoted Windows path, translated whole through dosdevices
      {"/home/guest/.wine/dosdevices/\"c:/My Films/a b.mkv\"",
       {"/home/guest/.wine/dosdevices/c:/My Films/a b.mkv"}},
      {"/media/cdrom/a.mkv", {"/media/cdrom/a.mkv"}},
      {"/a.mkv /b.mkv", {"/a.mkv", "/b.mkv"}},
      {"a  b\tc ", {"a", "b", "c"}},
      {"  a", {"a"}},
      {"\"\" x", {"", "x"}},
      {"\"\"", {""}},
      {"a\"b c\"d", {"ab cd"}},
      {"\"a b", {"a b"}},  // a quote never closed runs to the end
      {"", {}},
      {"   ", {}},
      // Backslashes count only before a quote: 2n of them are n and the
      // quote groups, 2n+1 are n and a literal quote (as Wine's
      // CommandLineToArgvW splits them).
      {"a\\b \\\\server\\x", {"a\\b", "\\\\server\\x"}},
      {"a\\\\\"b c\"", {"a\\b c"}},
      {"a\\\\\\\"b", {"a\\\"b"}},
      {"\"a\\\\\" b", {"a\\", "b"}},
      {"\"--meta-title=\\\"Big Buck Bunny.mp4\\\"\" u", {"--meta-title=\"Big Buck Bunny.mp4\"", "u"}},
      // A quote straight after a closing quote is a literal one.
      {"a\"b\"\" c d", {"ab\"", "c", "d"}},
      {"\"a\"\"b\"", {"a\"b"}},
      {"\"a\"\"\" b", {"a\" b"}},
      {"\"\"\"a\"", {"\"a"}},
      {"\"\"\"\"\"\"", {"\"\""}},
      {"a\"\"\"b\"c d", {"a\"bc d"}},
      {"a\"\"b \"\" \"\"", {"ab", "", ""}},
  };
  for (const Row& row : rows) EXPECT_EQ(Split(row.tail), row.words) << row.tail;
  // Each word also keeps its text as the tail spells it.
  const std::vector<modrik::TailWord> words = modrik::SplitTailWords("\"C:\\a b\".mkv\tx\"\"  \"open");
  ASSERT_EQ(words.size(), 3u);
  EXPECT_EQ(words[0].source, "\"C:\\a b\".mkv");
  EXPECT_EQ(words[1].source, "x\"\"");
  EXPECT_EQ(words[2].source, "\"open");
}

TEST(SplitTailWords, EverythingButBlanksAndDoubleQuotesIsLiteral) {
  EXPECT_EQ(Split("\"/x$(touch CANARY).mkv\""), Words({"/x$(touch CANARY).mkv"}));
  EXPECT_EQ(Split("/x$(touch CANARY).mkv"), Words({"/x$(touch", "CANARY).mkv"}));
  EXPECT_EQ(Split("/a;b|c&d>e<f"), Words({"/a;b|c&d>e<f"}));
  EXPECT_EQ(Split("/it's `x` $HOME"), Words({"/it's", "`x`", "$HOME"}));
  EXPECT_EQ(Split("\"/two\nlines\" x\ny"), Words({"/two\nlines", "x\ny"}));
  EXPECT_EQ(Split("\"/say 'hi' $(id)\""), Words({"/say 'hi' $(id)"}));
}

}  // namespace
