// Splitting a translated command tail into the player's arguments.
//
// The tail is split the way a POSIX shell splits a line of plain words:
// blanks (space, tab) outside double quotes end a word, double quotes group
// and are removed. Every other character, shell-special or not, is part of
// the word as it stands, so nothing in a file name is ever interpreted.
#include "winebridge/winebridge.h"

namespace modrik {

std::vector<std::string> SplitTranslatedTail(const std::string& text) {
  std::vector<std::string> words;
  std::string word;
  bool inWord = false;  // a word has begun (it may still be empty: "")
  bool quoted = false;
  for (char c : text) {
    if (c == '"') {
      quoted = !quoted;
      inWord = true;
    } else if (!quoted && (c == ' ' || c == '\t')) {
      if (inWord) words.push_back(word);
      word.clear();
      inWord = false;
    } else {
      word += c;
      inWord = true;
    }
  }
  // A quote left open runs to the end of the text.
  if (inWord) words.push_back(word);
  return words;
}

}  // namespace modrik
