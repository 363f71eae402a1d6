// Splitting a command tail into words by the rules of the Windows C runtime
// (CommandLineToArgvW), by which callers build their command lines and the
// player's Windows build reads them:
//   - blanks (space, tab) outside double quotes end a word;
//   - double quotes group and are removed; a quote straight after a closing
//     quote is a literal one;
//   - 2n backslashes before a quote are n backslashes, 2n+1 are n and a
//     literal quote; backslashes before anything else are literal.
// Every other character, shell-special or not, is part of the word as it
// stands, so nothing in a file name is ever interpreted.
#include "launcher/launcher.h"

namespace modrik {

std::vector<TailWord> SplitTailWords(const std::string& tail) {
  std::vector<TailWord> words;
  std::string text;
  std::size_t start = 0;
  bool inWord = false;  // a word has begun (it may still be empty: "")
  int quotes = 0;       // 1 inside a quoted stretch, 0 outside
  std::size_t backslashes = 0;
  std::size_t i = 0;
  while (i < tail.size()) {
    const char c = tail[i];
    if ((c == ' ' || c == '\t') && quotes == 0) {
      if (inWord) words.push_back({text, tail.substr(start, i - start)});
      text.clear();
      inWord = false;
      backslashes = 0;
      ++i;
      continue;
    }
    if (!inWord) start = i;
    inWord = true;
    if (c != '"') {
      text += c;
      backslashes = c == '\\' ? backslashes + 1 : 0;
      ++i;
      continue;
    }
    // A quote: the backslashes before it are halved; an odd one out makes
    // it a literal quote, else it opens or closes a quoted stretch.
    text.erase(text.size() - (backslashes + 1) / 2);
    if (backslashes % 2 == 1)
      text += '"';
    else
      ++quotes;
    backslashes = 0;
    for (++i; i < tail.size() && tail[i] == '"'; ++i) {
      if (++quotes == 3) {
        text += '"';
        quotes = 0;
      }
    }
    if (quotes == 2) quotes = 0;
  }
  // A quote left open runs to the end of the tail.
  if (inWord) words.push_back({text, tail.substr(start)});
  return words;
}

}  // namespace modrik
