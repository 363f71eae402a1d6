// Splitting a command tail into words, the way a POSIX shell splits a line
// of plain words: blanks (space, tab) outside double quotes end a word,
// double quotes group and are removed. Every other character, shell-special
// or not, is part of the word as it stands, so nothing in a file name is
// ever interpreted.
#include "launcher/launcher.h"

namespace modrik {

std::vector<TailWord> SplitTailWords(const std::string& tail) {
  std::vector<TailWord> words;
  std::string text;
  std::size_t start = 0;
  bool inWord = false;  // a word has begun (it may still be empty: "")
  bool quoted = false;
  for (std::size_t i = 0; i < tail.size(); ++i) {
    const char c = tail[i];
    const bool blank = !quoted && (c == ' ' || c == '\t');
    if (blank) {
      if (inWord) words.push_back({text, tail.substr(start, i - start)});
      text.clear();
      inWord = false;
      continue;
    }
    if (!inWord) start = i;
    inWord = true;
    if (c == '"')
      quoted = !quoted;
    else
      text += c;
  }
  // A quote left open runs to the end of the tail.
  if (inWord) words.push_back({text, tail.substr(start)});
  return words;
}

}  // namespace modrik
